// The strings reader and the PO writer in process, over converted text held
// in memory, writing to /dev/null: bytes of text per second.
//
// The text is QUORVEL_BENCH_TEXT, a file of converted strings (such as the
// corpus run through iconv), where that is set; else lines like those of real
// strings files. Either is repeated to at least 16 MB.
#include "po_writer.h"
#include "strings_reader.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string sample() {
    if (const char *path = std::getenv("QUORVEL_BENCH_TEXT")) {
        // A file that cannot be read ends the run: measuring nothing is no result.
        std::string text;
        char chunk[1 << 16];
        FILE *in = std::fopen(path, "rb");
        for (size_t got; in != nullptr && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
            text.append(chunk, got);
        if (in == nullptr || std::ferror(in)) {
            std::perror(path);
            std::exit(1);
        }
        std::fclose(in);
        return text;
    }
    return "/* Title of the window that lists the contacts */\n"
           "\"Contacts\" = \"Kontakte\";\n"
           "\n"
           "/* %@ is the name of a file */\n"
           "\"Open \\\"%@\\\"\" = \"„%@“ öffnen\";\n"
           "\"The connection to %1$@ was lost.\\nReconnect?\" = \"La connexion à %1$@ a été "
           "perdue.\\nSe reconnecter ?\";\n"
           "\"Save\" = \"保存\";\n"
           "/* No comment provided by engineer. */\n"
           "\"Incoming file transfer from %@ (%lu KB)\" = \"Εισερχόμενη μεταφορά αρχείου από %@ "
           "(%lu KB)\";\n";
}

const std::string &text() {
    static const std::string text = [] {
        std::string one = sample(), all;
        if (one.empty() || one.back() != '\n')
            one += '\n';
        while (all.size() < (16u << 20))
            all += one;
        return all;
    }();
    return text;
}

// Runs the reader over the text, handing each entry to use, and counting
// lines and telling of passed-over ones as the tool does.
template <typename Use> void scan(benchmark::State &state, Use use) {
    std::string input = text();
    static char buffer[longest_line + 1 + (1 << 16)];
    char *id, *str;
    long long passed = 0;
    for (auto _ : state) {
        FILE *strings = fmemopen(&input[0], input.size(), "r");
        strings_position position;
        position.context = &passed;
        position.passed = [](void *context, long long, passed_over, bool) {
            ++*static_cast<long long *>(context);
        };
        while (read_strings(strings, buffer, sizeof buffer, &id, &str, &position))
            use(id, str);
        std::fclose(strings);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}

void BM_ReadAndWrite(benchmark::State &state) {
    // The PO stream as the tool has it: unbuffered, written a block at a time.
    FILE *po = std::fopen("/dev/null", "w");
    std::setvbuf(po, nullptr, _IONBF, 0);
    static po_stream lines(po);
    scan(state, [](const char *id, const char *str) {
        write_po(lines, "msgid", id);
        write_po(lines, "msgstr", str);
    });
    lines.flush();
    std::fclose(po);
}
BENCHMARK(BM_ReadAndWrite);

void BM_ReadOnly(benchmark::State &state) {
    scan(state, [](const char *id, const char *) { benchmark::DoNotOptimize(id); });
}
BENCHMARK(BM_ReadOnly);

} // namespace

BENCHMARK_MAIN();
