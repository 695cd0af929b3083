// SASL for SMTP AUTH (RFC 4954): choosing a mechanism and building the
// client's responses. Pure functions: the session sends what they return.
#pragma once

#include "smtp.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Standard base64 (RFC 4648 4) of `bytes`, through OpenSSL.
std::string Base64(std::string_view bytes);
// The decoded text of a 334 challenge; empty when it is not base64.
std::string FromBase64(std::string_view text);

// The SASL name: "PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER".
const char* MechanismName(TAuthMethod method);

// The mechanism to use: `wanted`, or for amAuto the best of PLAIN and LOGIN
// that `offered` holds (PLAIN first: one round trip, the same secret).
// nullopt when the server offers none of them.
std::optional<TAuthMethod> ChooseMechanism(TAuthMethod wanted, const std::vector<std::string>& offered);

// RFC 4616: "\0user\0password", base64.
std::string PlainResponse(std::string_view user, std::string_view password);
// XOAUTH2: "user=U^Aauth=Bearer T^A^A", base64.
std::string XOAuth2Response(std::string_view user, std::string_view token);
// RFC 7628 3.1: "n,a=U,^Ahost=H^Aport=P^Aauth=Bearer T^A^A", base64; "," and
// "=" in the user name escaped as RFC 5801 asks.
std::string OAuthBearerResponse(std::string_view user, std::string_view host, unsigned port, std::string_view token);

// What a user can do about a refusal, from the codes and words that the
// large providers use; empty when the reply suggests nothing.
std::string RefusalHint(int code, std::string_view text);
