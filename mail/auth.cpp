#include "auth.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>

namespace {

bool Contains(std::string_view text, std::string_view words)
{
    auto lower = [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); };
    return std::search(text.begin(), text.end(), words.begin(), words.end(),
                       [&](char a, char b) { return lower(a) == lower(b); })
           != text.end();
}

// RFC 5801 saslname: "," and "=" escaped.
std::string SaslName(std::string_view user)
{
    std::string name;
    for (char c : user)
        name += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
    return name;
}

} // namespace

std::string Base64(std::string_view bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3), '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
    text.resize(std::size_t(std::max(n, 0)));
    return text;
}

std::string FromBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return {};
    std::string bytes(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (n < 0)
        return {};
    // EVP_DecodeBlock counts the padding as zero bytes.
    const std::size_t pad = std::size_t(std::count(text.end() - std::min<std::size_t>(2, text.size()), text.end(), '='));
    bytes.resize(std::size_t(n) - pad);
    return bytes;
}

const char* MechanismName(TAuthMethod method)
{
    switch (method) {
    case amLOGIN: return "LOGIN";
    case amXOAUTH2: return "XOAUTH2";
    case amOAUTHBEARER: return "OAUTHBEARER";
    default: return "PLAIN";
    }
}

std::optional<TAuthMethod> ChooseMechanism(TAuthMethod wanted, const std::vector<std::string>& offered)
{
    auto offers = [&](TAuthMethod m) {
        return std::find(offered.begin(), offered.end(), MechanismName(m)) != offered.end();
    };
    if (wanted != amAuto)
        return offers(wanted) ? std::optional(wanted) : std::nullopt;
    for (TAuthMethod m : {amPLAIN, amLOGIN})
        if (offers(m))
            return m;
    return std::nullopt;
}

std::string PlainResponse(std::string_view user, std::string_view password)
{
    std::string message(1, '\0');
    message.append(user).append(1, '\0').append(password);
    return Base64(message);
}

std::string XOAuth2Response(std::string_view user, std::string_view token)
{
    std::string message = "user=";
    message.append(user).append("\1auth=Bearer ").append(token).append("\1\1");
    return Base64(message);
}

std::string OAuthBearerResponse(std::string_view user, std::string_view host, unsigned port, std::string_view token)
{
    std::string message = "n,a=" + SaslName(user) + ",\1host=";
    message.append(host).append("\1port=").append(std::to_string(port));
    message.append("\1auth=Bearer ").append(token).append("\1\1");
    return Base64(message);
}

std::string RefusalHint(int code, std::string_view text)
{
    if ((code == 534 || code == 535) && Contains(text, "application-specific password"))
        return "The server wants an app password: make one in your account's security settings and use it here.";
    if (code == 530 && Contains(text, "STARTTLS"))
        return "The server wants an encrypted connection: choose STARTTLS as Security.";
    if (Contains(text, "basic authentication is disabled"))
        return "The server no longer takes passwords: choose OAuth2 (XOAUTH2 or OAUTHBEARER) and give an access token.";
    return {};
}
