// Another program that tries to change files while a run holds them: in
// rounds, it opens each file for writing, renames it and deletes it.
// Usage: qz-tamper.exe ROUNDS FILE...
// Prints one line per file and attempt that was not refused with a sharing
// violation; exits with 0 when every attempt was refused that way, 1 when
// one was not, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <string>

#include "support/tamper.h"
#include "support/test_env.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 2;
    const int rounds = _wtoi(argv[1]);
    int status = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 2; i < argc; ++i) {
            const qztest::ChangeAttempts attempts = qztest::TryToChange(argv[i]);
            if (attempts.AllShareRefused())
                continue;
            std::printf("round %d, %s: write %lu, rename %lu, delete %lu\n", round,
                        qztest::ToUtf8(argv[i]).c_str(), attempts.write, attempts.rename, attempts.remove);
            status = 1;
        }
        Sleep(10);
    }
    std::printf("%d rounds over %d files\n", rounds, argc - 2);
    return status;
}
