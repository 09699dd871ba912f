// Entry point of the quorvex program.
int main() { return 0; }
