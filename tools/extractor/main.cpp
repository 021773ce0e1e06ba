// Replaced by the extractor.
int main() { return 1; }
