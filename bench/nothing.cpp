// A program that does nothing: its run, linked statically, is the least that
// starting a process costs, the floor under every run of the tool.
int main() {
    return 0;
}
