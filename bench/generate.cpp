// Writes a strings file of about the given size in UTF-8 to standard output,
// made of lines like those of real applications: comments, blank lines and
// entries of varied length, with escapes and non-ASCII text.
#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::fputs("usage: generate BYTES\n", stderr);
        return 2;
    }
    long long size = std::atoll(argv[1]), written = 0;
    static const char *const words[] = {
        "Open",   "file",    "Cancel", "connection",  "%@",       "Größe",      "account",
        "Fehler", "status",  "%d",     "message",     "contacts", "\\\"%@\\\"", "désactivé",
        "保存",   "Нажмите", "away",   "preferences", "\\n",      "transfer",   "Εισερχόμενα"};
    const int nwords = sizeof words / sizeof *words;
    std::mt19937 random(42);
    auto phrase = [&](int most) {
        int n = 1 + static_cast<int>(random() % static_cast<unsigned>(most));
        int length = 0;
        for (int i = 0; i < n; i++)
            length += std::printf("%s%s", i ? " " : "", words[random() % nwords]);
        return length;
    };
    while (written < size) {
        written += std::printf("/* Comment for entry %lld: ", written);
        written += phrase(6);
        written += std::printf(" */\n\"");
        written += phrase(8);
        written += std::printf("\" = \"");
        written += phrase(12);
        written += std::printf("\";\n\n");
    }
    return 0;
}
