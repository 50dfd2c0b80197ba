#include "corpus.h"

#include <cstdio>

namespace {

// Vocabulary of the definitions; word k is drawn with weight 1 / (k + 1).
constexpr int vocabularySize = 4096;
// Integer weights keep the draw identical on every machine.
constexpr std::uint32_t zipfScale = 1u << 24;
std::uint32_t zipfCumulative[vocabularySize];
bool zipfReady = false;

struct Random {
    std::uint64_t state;
};

// splitmix64: small, fast and well mixed, enough for a corpus.
std::uint64_t next(Random &r) {
    std::uint64_t z = (r.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint32_t below(Random &r, std::uint32_t n) {
    return static_cast<std::uint32_t>(next(r) % n);
}

struct Out {
    std::uint8_t *p;
    std::uint8_t *end;
};

void put(Out &o, const char *s) {
    for (; *s != '\0' && o.p < o.end; s++) *o.p++ = static_cast<std::uint8_t>(*s);
}
void putPair(Out &o, std::uint8_t lead, std::uint8_t trail) {
    if (o.end - o.p < 2) return;
    *o.p++ = lead;
    *o.p++ = trail;
}

// A JIS level-1 kanji: leads 0x89 to 0x97 are fully assigned, trails 0x40 to
// 0xFC without 0x7F.
void putKanji(Out &o, Random &r) {
    const auto lead = static_cast<std::uint8_t>(0x89 + below(r, 15));
    std::uint32_t t = 0x40 + below(r, 188);
    if (t >= 0x7F) t++;
    putPair(o, lead, static_cast<std::uint8_t>(t));
}
// Hiragana 0x829F to 0x82F1.
void putKana(Out &o, Random &r) {
    putPair(o, 0x82, static_cast<std::uint8_t>(0x9F + below(r, 83)));
}

// Word k of the vocabulary: the same characters every time it is drawn.
void putWord(Out &o, std::uint64_t seed, std::uint32_t k) {
    Random r{seed * 0x100000001B3ull + k};
    const std::uint32_t kanji = 1 + below(r, 3);
    for (std::uint32_t i = 0; i < kanji; i++) putKanji(o, r);
    const std::uint32_t kana = below(r, 3);
    for (std::uint32_t i = 0; i < kana; i++) putKana(o, r);
}

std::uint32_t drawWord(Random &r) {
    if (!zipfReady) {
        std::uint32_t sum = 0;
        for (int k = 0; k < vocabularySize; k++) {
            sum += zipfScale / static_cast<std::uint32_t>(k + 1);
            zipfCumulative[k] = sum;
        }
        zipfReady = true;
    }
    const std::uint32_t x = below(r, zipfCumulative[vocabularySize - 1]);
    int lo = 0;
    int hi = vocabularySize - 1;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (zipfCumulative[mid] > x) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return static_cast<std::uint32_t>(lo);
}

// Particles and punctuation between words: の を に は が と、 (Shift-JIS).
const char *const joiners[] = {"\x82\xcc", "\x82\xf0", "\x82\xc9", "\x82\xcd",
                               "\x82\xaa", "\x82\xc6", "\x81\x41"};
// Parts of speech: 名 動 形 副 (noun, verb, adjective, adverb).
const char *const partsOfSpeech[] = {"\x96\xbc", "\x93\xae", "\x8c\x60", "\x95\x9b"};
const char *const senseNumbers[] = {"\x81\x69\x82\x50\x81\x6a", "\x81\x69\x82\x51\x81\x6a",
                                    "\x81\x69\x82\x52\x81\x6a", "\x81\x69\x82\x53\x81\x6a"};

void putHeadword(Out &o, Random &r) {
    const std::uint32_t kanji = 1 + below(r, 3);
    for (std::uint32_t i = 0; i < kanji; i++) putKanji(o, r);
    const std::uint32_t kana = below(r, 3);
    for (std::uint32_t i = 0; i < kana; i++) putKana(o, r);
}

void putReading(Out &o, Random &r) {
    const std::uint32_t kana = 2 + below(r, 5);
    for (std::uint32_t i = 0; i < kana; i++) putKana(o, r);
}

void putPhrase(Out &o, Random &r, std::uint64_t seed, std::uint32_t words) {
    for (std::uint32_t i = 0; i < words; i++) {
        if (i > 0) put(o, joiners[below(r, 7)]);
        putWord(o, seed, drawWord(r));
    }
}

} // namespace

std::size_t corpusEntry(std::uint64_t seed, std::uint64_t index, std::uint8_t *buffer) {
    Random r{seed ^ (index * 0xD1B54A32D192ED03ull)};
    next(r);
    Out o{buffer, buffer + corpusEntryMax};
    // Headword and reading, as the preset's first row lays them out.
    std::uint8_t head[16];
    Out h{head, head + sizeof head};
    putHeadword(h, r);
    std::uint8_t reading[16];
    Out y{reading, reading + sizeof reading};
    putReading(y, r);
    const auto headLen = static_cast<std::size_t>(h.p - head);
    const auto readingLen = static_cast<std::size_t>(y.p - reading);
    auto putBytes = [&o](const std::uint8_t *b, std::size_t n) {
        for (std::size_t i = 0; i < n && o.p < o.end; i++) *o.p++ = b[i];
    };
    put(o, "<TOC>");
    putBytes(head, headLen);
    put(o, "</TOC><TITLE>(");
    putBytes(reading, readingLen);
    put(o, ")</TITLE><YOMI1>");
    putBytes(reading, readingLen);
    put(o, "</YOMI1><BODY><Z1:0001:>\x81\x79");
    put(o, partsOfSpeech[below(r, 4)]);
    put(o, "\x81\x7a</Z1>");
    const std::uint32_t senses = 1 + below(r, 4);
    for (std::uint32_t s = 0; s < senses; s++) {
        if (senses > 1) {
            put(o, "<No>");
            put(o, senseNumbers[s]);
            put(o, "</No>");
        }
        putPhrase(o, r, seed, 3 + below(r, 10));
        put(o, "\x81\x42");
        if (below(r, 3) == 0) {
            // An example in corner brackets with the headword in it.
            put(o, "<CR>\x81\x75");
            putPhrase(o, r, seed, 1 + below(r, 3));
            put(o, "\x82\xcc");
            putBytes(head, headLen);
            put(o, "\x81\x76");
        }
        put(o, "<CR>");
    }
    if (below(r, 4) == 0) {
        char ref[64];
        std::snprintf(ref, sizeof ref, "\x81\xcb<A REFID=\"%08u\">",
                      static_cast<unsigned>(below(r, 100000000)));
        put(o, ref);
        putHeadword(o, r);
        put(o, "</A>");
    }
    put(o, "<SBREAK L=2></BODY>");
    return static_cast<std::size_t>(o.p - buffer);
}
