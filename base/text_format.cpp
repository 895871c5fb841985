// A small vsnprintf: one pass over the format, each conversion rendered into a local buffer and
// then padded into the output.
#include "text_format.h"

#include <cstdint>

namespace TextFormat {

namespace {

class Sink {
 public:
  Sink(char* out, size_t size) : out_(out), size_(size) {}
  void put(char c) {
    if (n_ + 1 < size_) out_[n_] = c;
    ++n_;
  }
  void repeat(char c, int count) {
    for (int i = 0; i < count; ++i) put(c);
  }
  int finish() {
    if (size_ > 0) out_[n_ + 1 < size_ ? n_ : size_ - 1] = '\0';
    return static_cast<int>(n_);
  }

 private:
  char* out_;
  size_t size_;
  size_t n_ = 0;
};

struct Spec {
  bool left = false, plus = false, space = false, zero = false, alt = false;
  int width = 0;
  int precision = -1;
};

int readNumber(const char*& p) {
  int v = 0;
  while (*p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
  return v;
}

// Prefix (sign or 0x), zeros to the precision or width, digits, all padded to the width.
void emitNumber(Sink& s, const Spec& spec, const char* prefix, const char* digits, int ndigits) {
  int plen = 0;
  while (prefix[plen] != '\0') ++plen;
  int zeros = spec.precision > ndigits ? spec.precision - ndigits : 0;
  if (spec.zero && !spec.left && spec.precision < 0 && spec.width > plen + ndigits) zeros = spec.width - plen - ndigits;
  const int pad = spec.width - plen - zeros - ndigits;
  if (!spec.left) s.repeat(' ', pad);
  for (int i = 0; i < plen; ++i) s.put(prefix[i]);
  s.repeat('0', zeros);
  for (int i = 0; i < ndigits; ++i) s.put(digits[i]);
  if (spec.left) s.repeat(' ', pad);
}

}  // namespace

int formatV(char* out, size_t size, const char* format, va_list args) {
  Sink s(out, size);
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      s.put(*p);
      continue;
    }
    const char* start = p++;
    Spec spec;
    for (;; ++p) {
      if (*p == '-')
        spec.left = true;
      else if (*p == '+')
        spec.plus = true;
      else if (*p == ' ')
        spec.space = true;
      else if (*p == '0')
        spec.zero = true;
      else if (*p == '#')
        spec.alt = true;
      else
        break;
    }
    if (*p == '*') {
      spec.width = va_arg(args, int);
      if (spec.width < 0) {
        spec.left = true;
        spec.width = -spec.width;
      }
      ++p;
    } else {
      spec.width = readNumber(p);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        spec.precision = va_arg(args, int);
        ++p;
      } else {
        spec.precision = readNumber(p);
      }
    }
    int length = 0;  // -2 hh, -1 h, 0 int, 1 long (and size_t, intmax_t, ptrdiff_t: 32 bits here)
    if (*p == 'h')
      length = *++p == 'h' ? (++p, -2) : -1;
    else if (*p == 'l' || *p == 'z' || *p == 'j' || *p == 't')
      ++p, length = 1;

    char buf[12];
    int n = 0;
    const char conv = *p;
    if (conv == 'd' || conv == 'i' || conv == 'u' || conv == 'o' || conv == 'x' || conv == 'X') {
      const bool isSigned = conv == 'd' || conv == 'i';
      uint32_t v = length == 1 ? va_arg(args, unsigned long) : va_arg(args, unsigned);
      const char* prefix = "";
      if (isSigned) {
        int32_t sv = static_cast<int32_t>(v);
        if (length == -1) sv = static_cast<int16_t>(sv);
        if (length == -2) sv = static_cast<int8_t>(sv);
        v = sv < 0 ? 0u - static_cast<uint32_t>(sv) : static_cast<uint32_t>(sv);
        prefix = sv < 0 ? "-" : spec.plus ? "+" : spec.space ? " " : "";
      } else {
        if (length == -1) v = static_cast<uint16_t>(v);
        if (length == -2) v = static_cast<uint8_t>(v);
        if (spec.alt && v != 0 && conv != 'o') prefix = conv == 'x' ? "0x" : "0X";
      }
      const uint32_t base = conv == 'o' ? 8u : (conv == 'x' || conv == 'X') ? 16u : 10u;
      const char* digitChars = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
      char rev[12];
      while (v != 0) {
        rev[n++] = digitChars[v % base];
        v /= base;
      }
      if (n == 0 && spec.precision != 0) rev[n++] = '0';
      if (spec.alt && conv == 'o' && (n == 0 || rev[n - 1] != '0')) rev[n++] = '0';
      for (int i = 0; i < n; ++i) buf[i] = rev[n - 1 - i];
      emitNumber(s, spec, prefix, buf, n);
    } else if (conv == 'c') {
      buf[0] = static_cast<char>(va_arg(args, int));
      spec.precision = -1;
      spec.zero = false;
      emitNumber(s, spec, "", buf, 1);
    } else if (conv == 's') {
      const char* text = va_arg(args, const char*);
      if (text == nullptr) text = "(null)";
      int len = 0;
      while (text[len] != '\0' && (spec.precision < 0 || len < spec.precision)) ++len;
      const int pad = spec.width - len;
      if (!spec.left) s.repeat(' ', pad);
      for (int i = 0; i < len; ++i) s.put(text[i]);
      if (spec.left) s.repeat(' ', pad);
    } else if (conv == '%') {
      s.put('%');
    } else {  // not a conversion this formatter knows: the text as it stands
      for (const char* q = start; q <= p && *q != '\0'; ++q) s.put(*q);
      if (*p == '\0') break;
    }
  }
  return s.finish();
}

}  // namespace TextFormat
