// A program that does nothing: built with and without a version record, it is the file the version tests
// read.
int main() {
    return 0;
}
