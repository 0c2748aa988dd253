// Where the third-party corpus lies: $TARVIK_CORPUS_DIR, read when the test
// runs, or ../shared/corpus beside the source tree. The corpus is not part of
// the repository; tests that read it skip with the reason when it is absent,
// so that a fresh clone passes on its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace ztest {

inline std::string CorpusDir() {
    const char* env = std::getenv("TARVIK_CORPUS_DIR");
    return env != nullptr && *env != '\0' ? std::string(env)
                                          : std::string(TARVIK_SOURCE_DIR "/../shared/corpus");
}

// The file `name` (relative to the corpus folder).
inline std::string CorpusFile(const std::string& name) {
    return CorpusDir() + "/" + name;
}

inline bool HaveCorpus() {
    std::error_code ec;
    return std::filesystem::is_directory(CorpusDir(), ec);
}

}  // namespace ztest

// Ends the current test as skipped when there is no corpus.
#define SKIP_WITHOUT_CORPUS()                                                                    \
    do {                                                                                         \
        if (!ztest::HaveCorpus()) {                                                              \
            GTEST_SKIP() << "no corpus at " << ztest::CorpusDir() << " (set TARVIK_CORPUS_DIR)"; \
        }                                                                                        \
    } while (0)
