#include "md5.h"

#include "net/md5_bcrypt.h"

// The patcher's own CNG hash, started at once; a failed start makes Update
// and Finish fail.
struct Md5Hasher::State {
    BcryptMd5 md5;
};

Md5Hasher::Md5Hasher() : state_(std::make_unique<State>()) { state_->md5.Start(); }

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::Update(const void* data, size_t size) { return state_->md5.Update(data, size); }

bool Md5Hasher::Finish(std::string& hex) {
    Md5Digest digest{};
    if (!state_->md5.Finish(digest)) return false;
    hex = HexDigits(digest.data(), digest.size());
    return true;
}
