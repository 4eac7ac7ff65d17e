// Placeholder until this piece is written.
int main() { return 0; }
