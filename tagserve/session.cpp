#include "session.h"

#include "ids.h"

#include <sys/random.h>

#include <random>

namespace tagserve {

IdentityToken ParseIdentityToken(const ExtensionObject& token)
{
    IdentityToken t;
    if (token.IsNull())
        return t;
    Reader r(token.body);
    if (token.typeId == NodeId(0, msg::AnonymousIdentityToken)) {
        t.policyId = r.String();
    } else if (token.typeId == NodeId(0, msg::UserNameIdentityToken)) {
        t.kind = TokenKind::UserName;
        t.policyId = r.String();
        t.user = r.String();
        t.password = r.ByteString();
        bool noAlgorithm = true;
        std::string algorithm = r.String(&noAlgorithm);
        t.encrypted = !noAlgorithm && !algorithm.empty();
    } else {
        t.kind = TokenKind::Other;
    }
    return t;
}

const char* OfferedPolicyId(const Credentials& credentials)
{
    return credentials.byPassword ? "username" : "anonymous";
}

bool ConstantTimeEqual(const std::string& a, const std::string& b)
{
    size_t n = std::max(a.size(), b.size());
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    for (size_t i = 0; i < n; ++i) {
        unsigned x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
        unsigned y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
        diff |= x ^ y;
    }
    return diff == 0;
}

uint32_t CheckIdentity(const Credentials& credentials, const IdentityToken& token)
{
    if (token.kind == TokenKind::Other || token.encrypted)
        return status::BadIdentityTokenInvalid;
    bool anonymousNull = token.kind == TokenKind::Anonymous && token.policyId.empty();
    if (!anonymousNull && token.policyId != OfferedPolicyId(credentials))
        return status::BadIdentityTokenInvalid;
    if (!credentials.byPassword)
        return token.kind == TokenKind::Anonymous ? status::Good : status::BadIdentityTokenInvalid;
    if (token.kind != TokenKind::UserName)
        return status::BadIdentityTokenInvalid;
    // Both are compared whatever the first gives, so the time tells nothing.
    bool userOk = ConstantTimeEqual(token.user, credentials.user);
    bool passwordOk = ConstantTimeEqual(token.password, credentials.password);
    if (credentials.refused || !userOk || !passwordOk)
        return status::BadUserAccessDenied;
    return status::Good;
}

std::string RandomBytes(size_t count)
{
    std::string out(count, '\0');
    size_t got = 0;
    while (got < count) {
        ssize_t n = getrandom(out.data() + got, count - got, 0);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    if (got < count) { // getrandom unavailable: still unpredictable enough for nonces
        std::random_device rd;
        for (size_t i = got; i < count; ++i)
            out[i] = static_cast<char>(rd());
    }
    return out;
}

} // namespace tagserve
