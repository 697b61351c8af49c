#include "tools/check/warnings/Address.h"

#include <array>
#include <cstdint>
#include <optional>

namespace vesperline::check {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A dotted IPv4 address of four decimal numbers from 0 to 255, without leading zeros.
std::optional<std::array<std::uint8_t, 4>> ParseIpv4(std::string_view text) {
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && IsDigit(text[digits]) && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[0] == '0')) {
      return std::nullopt;
    }
    bytes[part] = static_cast<std::uint8_t>(value);
    text.remove_prefix(digits);
  }
  if (!text.empty()) return std::nullopt;
  return bytes;
}

// An IPv6 address in its text forms: eight groups of up to four hex digits, one "::" for a run of
// zero groups, and an IPv4 address in place of the last two groups.
std::optional<std::array<std::uint16_t, 8>> ParseIpv6(std::string_view text) {
  std::array<std::uint16_t, 8> groups{};
  std::size_t count = 0;
  std::optional<std::size_t> gap;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    text.remove_prefix(2);
  }
  while (!text.empty()) {
    if (count == 8) return std::nullopt;
    if (count <= 6 && text.find('.') != std::string_view::npos &&
        text.find(':') == std::string_view::npos) {
      const auto ipv4 = ParseIpv4(text);
      if (!ipv4) return std::nullopt;
      groups[count++] = static_cast<std::uint16_t>((*ipv4)[0] << 8 | (*ipv4)[1]);
      groups[count++] = static_cast<std::uint16_t>((*ipv4)[2] << 8 | (*ipv4)[3]);
      text = {};
      break;
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && digits < 5 && HexValue(text[digits]) >= 0) {
      value = value * 16 + static_cast<unsigned>(HexValue(text[digits]));
      ++digits;
    }
    if (digits == 0 || digits > 4) return std::nullopt;
    groups[count++] = static_cast<std::uint16_t>(value);
    text.remove_prefix(digits);
    if (text.empty()) break;
    if (text.substr(0, 2) == "::") {
      if (gap) return std::nullopt;
      gap = count;
      text.remove_prefix(2);
    } else if (text.front() == ':' && text.size() > 1) {
      text.remove_prefix(1);
    } else {
      return std::nullopt;
    }
  }
  if (gap) {
    if (count == 8) return std::nullopt;
    // The groups after the gap move to the end; the gap's groups are zero.
    std::array<std::uint16_t, 8> full{};
    for (std::size_t i = 0; i < *gap; ++i) full[i] = groups[i];
    for (std::size_t i = *gap; i < count; ++i) full[8 - (count - i)] = groups[i];
    return full;
  }
  if (count != 8) return std::nullopt;
  return groups;
}

AddressKind ClassifyIpv4(const std::array<std::uint8_t, 4>& a) {
  if (a[0] == 0) return AddressKind::kUnspecified;
  if (a[0] == 127) return AddressKind::kLoopback;
  if (a[0] == 169 && a[1] == 254) return AddressKind::kLinkLocal;
  if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168) ||
      (a[0] == 100 && (a[1] & 0xC0) == 64)) {
    return AddressKind::kPrivate;
  }
  if ((a[0] == 192 && a[1] == 0 && a[2] == 2) || (a[0] == 198 && a[1] == 51 && a[2] == 100) ||
      (a[0] == 203 && a[1] == 0 && a[2] == 113)) {
    return AddressKind::kExample;
  }
  return AddressKind::kPublic;
}

AddressKind ClassifyIpv6(const std::array<std::uint16_t, 8>& g) {
  const bool zeroUpTo5 = g[0] == 0 && g[1] == 0 && g[2] == 0 && g[3] == 0 && g[4] == 0;
  if (zeroUpTo5 && g[5] == 0xFFFF) {
    return ClassifyIpv4({static_cast<std::uint8_t>(g[6] >> 8), static_cast<std::uint8_t>(g[6]),
                         static_cast<std::uint8_t>(g[7] >> 8), static_cast<std::uint8_t>(g[7])});
  }
  if (zeroUpTo5 && g[5] == 0 && g[6] == 0) {
    if (g[7] == 0) return AddressKind::kUnspecified;
    if (g[7] == 1) return AddressKind::kLoopback;
  }
  if ((g[0] & 0xFFC0) == 0xFE80) return AddressKind::kLinkLocal;
  if ((g[0] & 0xFE00) == 0xFC00) return AddressKind::kPrivate;
  if (g[0] == 0x2001 && g[1] == 0x0DB8) return AddressKind::kExample;
  return AddressKind::kPublic;
}

// A port after the address: a ':' and decimal digits.
bool IsPortSuffix(std::string_view text) {
  if (text.size() < 2 || text.front() != ':') return false;
  for (const char c : text.substr(1)) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

}  // namespace

AddressKind ClassifyAddress(std::string_view text) {
  if (const auto ipv4 = ParseIpv4(text)) return ClassifyIpv4(*ipv4);
  if (const auto ipv6 = ParseIpv6(text)) return ClassifyIpv6(*ipv6);
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos && IsPortSuffix(text.substr(colon))) {
    const std::string_view address = text.substr(0, colon);
    if (ParseIpv4(address)) return AddressKind::kWithPort;
    if (address.size() > 2 && address.front() == '[' && address.back() == ']' &&
        ParseIpv6(address.substr(1, address.size() - 2))) {
      return AddressKind::kWithPort;
    }
  }
  return AddressKind::kNotAnAddress;
}

}  // namespace vesperline::check
