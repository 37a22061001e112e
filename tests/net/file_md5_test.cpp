#include <gtest/gtest.h>

#include <string>

#include "common/handle.h"
#include "common/run_flags.h"
#include "config/error_text.h"
#include "net/file_md5.h"

namespace {

std::wstring TempFilePath(const std::wstring& name) {
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, directory);
    return std::wstring(directory, length) + L"file_md5_test_" + name;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Bytes i % 251: a period that never lines up with the 1 MiB read size.
std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

bool HasUpperCase(const std::wstring& text) {
    for (wchar_t c : text) {
        if (c >= L'A' && c <= L'Z') return true;
    }
    return false;
}

class FileMd5 : public ::testing::Test {
protected:
    void TearDown() override {
        CancelRequested.store(false);
        ::DeleteFileW(path_.c_str());
    }

    // Writes `bytes` to this test's file and hashes it; fails the test on error.
    std::wstring HashOf(const std::string& bytes) {
        EXPECT_TRUE(WriteWholeFile(path_, bytes));
        std::wstring md5;
        std::wstring error;
        EXPECT_TRUE(ComputeFileMd5(path_, md5, error)) << std::string(error.begin(), error.end());
        EXPECT_TRUE(error.empty());
        EXPECT_EQ(md5.size(), 32u);
        EXPECT_FALSE(HasUpperCase(md5));
        return md5;
    }

    std::wstring path_ = TempFilePath(std::to_wstring(::GetCurrentProcessId()) + L".bin");
};

TEST_F(FileMd5, Rfc1321Vectors) {
    EXPECT_EQ(HashOf(""), L"d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HashOf("a"), L"0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(HashOf("abc"), L"900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HashOf("message digest"), L"f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(HashOf("abcdefghijklmnopqrstuvwxyz"), L"c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(HashOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              L"d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(HashOf("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              L"57edf4a22be3c955ac49da2e2107b67a");
}

TEST_F(FileMd5, ChunkBoundaries) {
    EXPECT_EQ(HashOf(Pattern(1048576)), L"8f293a2f6c19b345152f7a49bb4c643c");
    EXPECT_EQ(HashOf(Pattern(1048577)), L"79b67c7fbf43b76e5b7f182328bdc4b6");
    EXPECT_EQ(HashOf(Pattern(3 * 1048576 + 5)), L"028bfcc1395093c0df0dc731de96e1b5");
}

TEST_F(FileMd5, SuccessLeavesTheErrorTextAlone) {
    ASSERT_TRUE(WriteWholeFile(path_, "abc"));
    std::wstring md5 = L"old";
    std::wstring error = L"earlier text";
    ASSERT_TRUE(ComputeFileMd5(path_, md5, error));
    EXPECT_EQ(md5, L"900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(error, L"earlier text");
}

TEST_F(FileMd5, MissingFile) {
    std::wstring md5;
    std::wstring error;
    EXPECT_FALSE(ComputeFileMd5(path_, md5, error));
    EXPECT_EQ(error, L"Nie można odczytać " + path_ + L": " + WindowsErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(md5.empty());
}

TEST_F(FileMd5, FileHeldOpenForWritingWithReadSharing) {
    FileHandle writer(::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.Valid());
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(writer.Get(), "abc", 3, &written, nullptr));
    std::wstring md5;
    std::wstring error;
    EXPECT_TRUE(ComputeFileMd5(path_, md5, error));
    EXPECT_EQ(md5, L"900150983cd24fb0d6963f7d28e17f72");
    // The hash kept no handle: the writer may keep writing and the file may go.
    EXPECT_TRUE(::WriteFile(writer.Get(), "d", 1, &written, nullptr));
    writer.Reset();
    EXPECT_TRUE(::DeleteFileW(path_.c_str()));
}

TEST_F(FileMd5, FileLockedWithoutReadSharing) {
    FileHandle locker(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(locker.Valid());
    std::wstring md5;
    std::wstring error;
    EXPECT_FALSE(ComputeFileMd5(path_, md5, error));
    EXPECT_EQ(error, L"Nie można odczytać " + path_ + L": " + WindowsErrorText(ERROR_SHARING_VIOLATION));
}

TEST_F(FileMd5, CancelBeforeTheFirstRead) {
    ASSERT_TRUE(WriteWholeFile(path_, "abc"));
    CancelRequested.store(true);
    std::wstring md5 = L"untouched";
    std::wstring error;
    EXPECT_FALSE(ComputeFileMd5(path_, md5, error));
    EXPECT_EQ(error, L"Operacja anulowana.");
    EXPECT_EQ(md5, L"untouched");
    // The file was opened and closed again.
    EXPECT_TRUE(::DeleteFileW(path_.c_str()));
}

}  // namespace
