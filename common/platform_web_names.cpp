// platform_web_names.cpp: code pages in the browser. Its C library's iconv
// has no Windows tables (no CP932; its GBK refuses 0x80), so the browser's
// own decoders serve: TextDecoder's "shift_jis" and "gbk" read every code
// that glibc's CP932 and GBK read as the same character. They also read a
// few that glibc does not, which are refused here as glibc refuses them:
// C1 controls (cp932's lone 0x80) and, in gbk, the user-defined areas
// (private-use characters). What stays different: 99 gbk codes that
// GB18030 gave characters (vertical punctuation forms at 0xA6D9-0xA6F3,
// ideographic description characters at 0xA989-0xA995, radicals and rare
// ideographs at 0xFE50-0xFEA0, 0xA8BC, 0xA8BF), which the page reads and
// glibc does not.
//
// There is no encoder in the browser. The code a character is written as
// is the first code in byte order that the decoder reads as it (in cp932
// leaving out the lead bytes 0xED and 0xEE, the NEC-selected duplicates of
// IBM's extension), which is the code glibc and Windows choose for every
// character these code pages hold. The table is made once, from the
// decoder itself, the first time a name needs it.
#include <emscripten.h>

#include <string>

#include "platform.h"

namespace {

// Converts `size` bytes at `source` from the code page (or, with decode false,
// UTF-8 text into it) into `out`; returns the length written, or -1 when a
// character does not convert exactly or `capacity` is too small.
// The body is JavaScript:
// clang-format off
EM_JS(int, web_convert_name, (const char *source, int size, int code_page, int decode, char *out, int capacity), {
    const tables = Module.kitNameTables || (Module.kitNameTables = []);
    let t = tables[code_page];
    if (!t) {
        const label = code_page == 0 ? 'shift_jis' : 'gbk';
        const decoder = new TextDecoder(label, {fatal: true});
        const codes = new Map();  // character -> its code, as an array of bytes
        const read = (bytes) => {
            let text;
            try {
                text = decoder.decode(new Uint8Array(bytes));
            } catch (e) {
                return;
            }
            if ([...text].length == 1 && !codes.has(text)) codes.set(text, bytes);
        };
        for (let b = 0x80; b < 0x100; ++b) read([b]);
        for (let lead = 0x81; lead < 0xFF; ++lead) {
            if (code_page == 0 && (lead == 0xED || lead == 0xEE)) continue;
            for (let trail = 0x40; trail < 0xFF; ++trail) read([lead, trail]);
        }
        t = tables[code_page] = {decoder: decoder, codes: codes};
    }
    // C1 controls; in gbk the private-use characters of its user-defined areas.
    const refused = (p) => (p >= 0x80 && p <= 0x9F) || (code_page == 1 && p >= 0xE000 && p <= 0xF8FF);
    const encode = (text) => {
        const bytes = [];
        for (const c of text) {
            const p = c.codePointAt(0);
            if (p < 0x80) {
                bytes.push(p);
                continue;
            }
            const code = t.codes.get(c);
            if (!code || refused(p)) return null;
            bytes.push(...code);
        }
        return bytes;
    };
    const input = HEAPU8.slice(source, source + size);
    let result;
    if (decode) {
        let text;
        try {
            text = t.decoder.decode(input);
        } catch (e) {
            return -1;
        }
        // Only text that is written back as exactly these bytes reads as them.
        const back = encode(text);
        if (!back || back.length != input.length || back.some((b, i) => b != input[i])) return -1;
        result = new TextEncoder().encode(text);
    } else {
        let text;
        try {
            text = new TextDecoder('utf-8', {fatal: true}).decode(input);
        } catch (e) {
            return -1;
        }
        const bytes = encode(text);
        if (!bytes) return -1;
        result = new Uint8Array(bytes);
    }
    if (result.length > capacity) return -1;
    HEAPU8.set(result, out);
    return result.length;
});
// clang-format on

bool convert(const std::string &in, CodePage code_page, bool decode, std::string &out) {
    out.assign(in.size() * 4 + 8, '\0');  // no character grows more than four times
    const int n = web_convert_name(in.data(), static_cast<int>(in.size()), code_page == CODE_PAGE_CP932 ? 0 : 1,
                                   decode ? 1 : 0, out.data(), static_cast<int>(out.size()));
    if (n < 0) return false;
    out.resize(static_cast<size_t>(n));
    return true;
}

}  // namespace

bool platform_decode_name(const std::string &bytes, CodePage code_page, std::string &utf8) {
    return convert(bytes, code_page, true, utf8);
}

bool platform_encode_name(const std::string &utf8, CodePage code_page, std::string &bytes) {
    return convert(utf8, code_page, false, bytes);
}
