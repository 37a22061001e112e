#include "md5.h"

#include <openssl/evp.h>

struct Md5Hasher::State {
    EVP_MD_CTX* context = nullptr;
    bool ok = false;
    ~State() { EVP_MD_CTX_free(context); }
};

Md5Hasher::Md5Hasher() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    state_->ok = state_->context && EVP_DigestInit_ex(state_->context, EVP_md5(), nullptr) == 1;
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::Update(const void* data, size_t size) {
    if (state_->ok && size > 0) state_->ok = EVP_DigestUpdate(state_->context, data, size) == 1;
    return state_->ok;
}

bool Md5Hasher::Finish(std::string& hex) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!state_->ok || EVP_DigestFinal_ex(state_->context, digest, &length) != 1 || length != 16) {
        state_->ok = false;
        return false;
    }
    state_->ok = false;  // finished: a second Finish or Update fails
    hex = HexDigits(digest, length);
    return true;
}
