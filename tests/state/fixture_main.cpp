// Carrier of a version resource for the update-state suite; never run.
int main() { return 0; }
