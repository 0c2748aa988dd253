// The third-party corpus through the engine: every archive tested (and the hostile ones
// extracted) with the outcome the corpus notes ask of a correct and safe reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "CorpusTestSupport.h"
#include "ZEngineHarness.h"

using namespace zetest;

namespace {

struct CorpusCase {
    const char* file;
    const char* password;
    int32_t result;                 // files tested, or a negative engine error
    std::set<std::string> skipped;  // entries that must be reported as skipped
};

class ZEngineCorpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(ZEngineCorpus, TestsAsExpected) {
    SKIP_WITHOUT_CORPUS();
    const CorpusCase& c = GetParam();
    Harness h;
    h.archive = ztest::CorpusFile(c.file);
    h.password = c.password;
    EXPECT_EQ(h.test(), c.result) << c.file;
    std::set<std::string> skipped;
    for (const Skip& s : h.skips)
        skipped.insert(s.name);
    EXPECT_EQ(skipped, c.skipped) << c.file;
}

const CorpusCase kCases[] = {
    // End records: prefixes, trailing bytes, comments, Zip64 forms.
    {"libzip/junk-at-start.zip", "", 3, {}},
    {"libzip/junk-at-end.zip", "", 3, {}},
    {"libzip/testextrabytes.zip", "", 1, {}},
    {"libzip/testempty.zip", "", 0, {}},
    {"libzip/testcomment.zip", "", 4, {}},
    {"libzip/testfile-long-comment.zip", "", 1, {}},
    {"libzip/incons-archive-comment-longer.zip", "", 1, {}},
    {"libzip/incons-archive-comment-shorter.zip", "", 1, {}},
    {"libzip/zip-in-archive-comment.zip", "", 1, {}},
    {"libzip/zip64-in-archive-comment.zip", "", 1, {}},
    {"libzip/zip64.zip", "", 1, {}},
    {"libzip/zip64-3mf.zip", "", 1, {}},
    {"libzip/incons-eocd64.zip", "", 1, {}},
    // Counts that disagree with the directory, an offset past it: the entries the
    // directory's bytes hold, as the component lists them.
    {"libzip/incons-file-count-high.zip", "", 1, {}},
    {"libzip/incons-file-count-low.zip", "", 3, {}},
    {"libzip/incons-file-count-overflow.zip", "", 1, {}},
    {"libzip/incons-cdoffset.zip", "", 1, {}},
    {"libzip/manyfiles-zip.zip", "", 7, {}},
    {"libarchive/test_read_format_zip_with_invalid_traditional_eocd.zip", "", 2, {}},
    {"zip2/comment_garbage.zip", "", 0, {}},
    {"zip2/misaligned_comment.zip", "", 0, {}},
    {"zip2/zip64_magic_in_filename_1.zip", "", 1, {}},
    {"zip2/zip64_magic_in_filename_4.zip", "", 2, {}},
    {"zipdetails/winzip-sfx.exe", "", 1, {}},
    {"zipdetails/lorem-split.zip", "", 1, {}},
    {"zipdetails/pkzip-span-single-segment.zip", "", 1, {}},
    // Consistency and integrity.
    {"libzip/broken.zip", "crypt", 3, {"storedcrcerror", "deflatecrcerror", "deflatezliberror"}},
    {"libarchive/test_read_format_zip.zip", "", 2, {"file2"}},
    {"libarchive/test_compat_zip_2.zip", "", 2, {}},
    {"libarchive/test_read_format_zip_size_exceeds_declared_stored.zip", "", 1, {"first"}},
    {"libarchive/test_read_format_zip_size_exceeds_declared_deflate.zip", "", 1, {"first"}},
    {"libarchive/test_read_format_zip_uncompressed_size_off_by_4gib.zip", "", 0, {"hello.txt"}},
    {"libzip/gap.zip", "", 2, {"gap"}},
    {"libzip/incons-data.zip", "", 0, {"a"}},
    {"libzip/incons-local-magic-bad.zip", "", 0, {"a"}},
    {"libzip/incons-local-filename-long.zip", "", 0, {"a"}},
    {"zipdetails/local-central-mismatch-filename.zip", "", 1, {"letters.txt"}},
    {"zipdetails/orphans.zip", "", 2, {}},
    // Data descriptors.
    {"libzip/streamed.zip", "", 1, {}},
    {"libzip/streamed-zip64.zip", "", 1, {}},
    {"libzip/incons-streamed.zip", "", 1, {}},
    {"zipdetails/dd-missing-32-bit-header.zip", "", 1, {}},
    {"zipdetails/dd-should-be-64-got-32.zip", "", 1, {}},
    {"zipdetails/zip64-streamed.zip", "", 1, {}},
    {"zipdetails/prefix-and-streamed-offset-not-zero.zip", "", 1, {}},
    // Encryption.
    {"libzip/encrypt.zip", "foo", 2, {}},
    {"libzip/encrypt.zip", "notfoo", 1, {"encrypted"}},
    {"libzip/encrypt-aes128.zip", "foofoofoo", 2, {}},
    {"libzip/encrypt-aes256.zip", "foofoofoo", 2, {}},
    {"libzip/encrypt-aes256.zip", "", 1, {"encrypted"}},
    {"libzip/hmac-error.zip", "1234", 0, {"test.txt"}},
    {"libarchive/test_read_format_zip_traditional_encryption_data.zip", "12345678", 2, {}},
    {"libarchive/test_read_format_zip_encryption_data.zip", "12345678", 0, {"bar.txt", "foo.txt"}},
    {"libarchive/test_read_format_zip_encryption_partially.zip", "12345678", 1, {"foo.txt"}},
    {"libarchive/test_read_format_zip_winzip_aes128.zip", "password", 1, {}},
    {"libarchive/test_read_format_zip_winzip_aes256_stored.zip", "password", 1, {}},
    {"zip2/aes_archive.zip", "helloworld", 4, {}},
    {"zip2/ignore_encryption_flag.zip", "anything", 0, {"plaintext.txt"}},
    // Methods.
    {"libzip/testfile-lzma.zip", "", 1, {}},
    {"libzip/testfile-xz.zip", "", 1, {}},
    {"libzip/testfile-zstd.zip", "", 1, {}},
    {"libzip/testbzip2.zip", "", 1, {}},
    {"libzip/testbzip2broken.zip", "", 0, {"abac-repeat.txt"}},
    {"libarchive/test_read_format_zip_lzma.zipx", "", 1, {}},
    {"libarchive/test_read_format_zip_lzma_stream_end.zipx", "", 1, {}},
    {"libarchive/test_read_format_zip_xz_multi.zipx", "", 3, {}},
    {"libarchive/test_read_format_zip_zstd.zipx", "", 1, {}},
    {"libarchive/test_read_format_zip_bzip2.zipx", "", 1, {}},
    {"rc-zip/found-me-lzma.zip", "", 1, {}},
    {"rc-zip/found-me-zstd.zip", "", 1, {}},
    {"rc-zip/found-me-bzip2.zip", "", 1, {}},
    {"rc-zip/found-me-deflate64.zip", "", 1, {}},
    {"zip2/ppmd.zip", "", 0, {"ipsum.txt"}},
    {"zip2/xz.zip", "", 1, {}},
    {"zip2/legacy/implode.zip", "", 0, {"first.txt"}},
    // Multi-part sets are joined by the component before the engine sees them.
    {"libzip/multidisk.zip", "", -14, {}},
    {"zipdetails/300-split.zip", "", -14, {}},
    // Hostile input.
    {"zipdetails/zipbomb-full-overlap.zip", "", -5, {}},
    {"zipdetails/zipbomb-quoted-overlap.zip", "", -5, {}},
    {"rc-zip/archive-oob.zip", "", 0, {}},
    // Its binary name starts with a NUL, so the reported name is empty.
    {"zip2/raw_deflate64_index_out_of_bounds.zip", "", 0, {""}},
    {"zip2/deflate64_issue_25.zip", "", -9, {}},
    // Neither offset nor size of its directory hold: the directory found by its chain of
    // headers; the entries whose local headers are not where they say are skipped.
    {"zip2/invalid_offset.zip",
     "",
     2,
     {"zip/corpus/9fdad349dac578687a62907dd7ba4295801fa566", "zip/read.rs", "zip/seeds/.DS_Store",
      "\xE2\x80\xA6\xE2\x80\x93\xE2\x80\xA6/seeds/"}},
    {"zip2/invalid_offset2.zip", "", -9, {}},
    // Classic records without sentinels and a bogus locator: read as the empty archive
    // the classic record describes, nothing allocated by the claimed counts.
    {"zip2/invalid_cde_number_of_files_allocation_greater_offset.zip", "", 0, {}},
    {"zip2/invalid_cde_number_of_files_allocation_smaller_offset.zip", "", 0, {}},
    // Not a zip.
    {"libzip/bogus.zip", "", -9, {}},
    {"libzip/short", "", -9, {}},
    {"libzip/testfile-truncated.zip", "", -10, {}},
    {"libzip/incons-eocd-magic-bad.zip", "", -10, {}},
    {"libarchive/test_read_format_zip_malformed1.zip", "", -10, {}},
    {"libarchive/test_read_format_zip_ppmd8_crash_1.zipx", "", -10, {}},
};

INSTANTIATE_TEST_SUITE_P(ZEngine, ZEngineCorpus, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string s = std::to_string(info.index) + "_" + info.param.file;
    std::replace_if(
        s.begin(), s.end(), [](char ch) { return !isalnum(uint8_t(ch)); }, '_');
    return s;
});

struct HostileCase {
    const char* file;
    std::set<std::string> written;  // paths below the target afterwards (folders end in "/")
};

class ZEngineCorpusExtract : public ::testing::TestWithParam<HostileCase> {};

// Extraction writes only below the target, and only what is safe.
TEST_P(ZEngineCorpusExtract, WritesOnlyInsideTheTarget) {
    SKIP_WITHOUT_CORPUS();
    const HostileCase& c = GetParam();
    TempDir t;
    fs::create_directories(t.path / "a/b/target");
    Harness h;
    h.archive = ztest::CorpusFile(c.file);
    h.base = t / "a/b/target";
    h.extract();
    std::set<std::string> found;
    for (auto it = fs::recursive_directory_iterator(t.path);
         it != fs::recursive_directory_iterator(); ++it) {
        std::string rel = it->path().lexically_relative(t.path / "a/b/target").string();
        if (rel == ".")
            continue;
        if (rel.rfind("..", 0) == 0) {
            if (it->path() != t.path / "a" && it->path() != t.path / "a/b" &&
                it->path() != t.path / "a/b/target")
                ADD_FAILURE() << c.file << " wrote outside: " << it->path();
            continue;
        }
        found.insert(rel + (it->is_directory() && !it->is_symlink() ? "/" : ""));
    }
    std::string skipped;
    for (const Skip& s : h.skips)
        skipped += s.name + " ";
    EXPECT_EQ(found, c.written) << c.file << "; skipped: " << skipped;
}

INSTANTIATE_TEST_SUITE_P(
    ZEngine, ZEngineCorpusExtract,
    ::testing::Values(HostileCase{"zipdetails/fn-slip.zip", {}},
                      HostileCase{"zipdetails/fn-parent-directory.zip", {}},
                      HostileCase{"zipdetails/fn-absolute-path.zip", {}},
                      HostileCase{"zipdetails/fn-current-directory.zip", {}},
                      HostileCase{"zipdetails/fn-null-character.zip", {}},
                      HostileCase{"libzip/incons-filename-nul-byte.zip", {}},
                      HostileCase{"libzip/filename_empty.zip", {}},
                      HostileCase{"libzip/filename_duplicate_empty.zip", {}},
                      HostileCase{"zipdetails/fn-windows-control-character.zip", {"fred_"}},
                      HostileCase{"zipdetails/fn-backslash.zip",
                                  {"backslash/", "backslash/in/", "backslash/in/path"}},
                      HostileCase{"zipdetails/directory-with-payload.zip", {"abc/"}},
                      HostileCase{"zip2/symlink.zip", {"bar"}},
                      HostileCase{"libarchive/test_read_format_zip_symlink.zip",
                                  {"file", "symlink"}},
                      HostileCase{"zipdetails/zipbomb-full-overlap.zip", {}},
                      HostileCase{"libzip/filename_duplicate.zip", {"test1"}}),
    [](const auto& info) {
        std::string s = info.param.file;
        std::replace_if(
            s.begin(), s.end(), [](char ch) { return !isalnum(uint8_t(ch)); }, '_');
        return s;
    });

}  // namespace
