#include "engine/speech/tokenizer/BpeTokenizer.h"

#include "engine/speech/tokenizer/TokenizerError.h"
#include "platform/text/Characters.h"

#include <algorithm>
#include <queue>
#include <set>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vocalith {

namespace {

using Code = TokenizerError::Code;

[[noreturn]] void fail(Code code, const std::string& message) {
    throw TokenizerError(code, message);
}

// ---- Reading the JSON, strictly ----

const Json* member(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

const Json& requiredObject(const Json& object, const char* key, const std::string& where) {
    const Json* value = member(object, key);
    if (value == nullptr || !value->is_object())
        fail(Code::malformedFile, where + " has no object \"" + key + "\"");
    return *value;
}

std::string stringValue(const Json& value, const std::string& what) {
    if (!value.is_string())
        fail(Code::malformedFile, what + " is not a string");
    std::string text = value.get<std::string>();
    if (text.find('\0') != std::string::npos)
        fail(Code::malformedFile, what + " holds a NUL character");
    return text;
}

std::int32_t tokenId(const Json& value, const std::string& what) {
    std::int64_t id = 0;
    try {
        id = velnote::platform::decode<std::int64_t>(value);
    } catch (const JsonDecodeError& error) {
        fail(Code::malformedFile, what + ": " + error.problem());
    }
    if (id < 0 || id >= BpeTokenizer::kMaxTokenId)
        fail(Code::invalidContents, what + ": id " + std::to_string(id) + " is out of range");
    return static_cast<std::int32_t>(id);
}

bool optionalBool(const Json& object, const char* key, bool fallback, const std::string& where) {
    const Json* value = member(object, key);
    if (value == nullptr)
        return fallback;
    if (!value->is_boolean())
        fail(Code::malformedFile, where + " \"" + key + "\" is not a bool");
    return value->get<bool>();
}

void requireType(const Json& object, const char* expected, const std::string& where) {
    const Json* type = member(object, "type");
    if (type == nullptr || stringValue(*type, where + " type") != expected)
        fail(Code::unsupported, where + " is not of type " + expected);
}

// Options this reader does not implement must be absent or at their neutral value.
void requireNeutral(const Json& model) {
    if (const Json* dropout = member(model, "dropout"))
        fail(Code::unsupported, "BPE dropout is not supported (" + dropout->dump() + ")");
    for (const char* key : {"continuing_subword_prefix", "end_of_word_suffix"}) {
        if (const Json* affix = member(model, key); affix != nullptr && stringValue(*affix, key) != "")
            fail(Code::unsupported, std::string("BPE ") + key + " is not supported");
    }
    if (optionalBool(model, "byte_fallback", false, "model"))
        fail(Code::unsupported, "BPE byte_fallback is not supported");
}

// ---- The 256 byte symbols ----

struct ByteSymbols {
    std::array<std::string, 256> text;  // UTF-8 of each byte's symbol
    std::array<std::int16_t, 324> byte; // symbol code point -> byte, -1 for none

    ByteSymbols() {
        byte.fill(-1);
        int extra = 0;
        for (int b = 0; b < 256; ++b) {
            const bool printable =
                (b >= '!' && b <= '~') || (b >= 0xA1 && b <= 0xAC) || (b >= 0xAE && b <= 0xFF);
            const UChar32 symbol = printable ? b : 256 + extra++;
            char buffer[4];
            int32_t length = 0;
            U8_APPEND_UNSAFE(buffer, length, symbol);
            text[static_cast<std::size_t>(b)].assign(buffer, static_cast<std::size_t>(length));
            byte[static_cast<std::size_t>(symbol)] = static_cast<std::int16_t>(b);
        }
    }
};

const ByteSymbols& byteSymbols() {
    static const ByteSymbols symbols;
    return symbols;
}

// The bytes a vocabulary token stands for; characters outside the byte symbols stand for their
// own UTF-8 bytes.
void appendTokenBytes(const std::string& token, std::string& bytes) {
    const auto& symbols = byteSymbols();
    const auto length = static_cast<int32_t>(token.size());
    int32_t offset = 0;
    while (offset < length) {
        const int32_t start = offset;
        UChar32 c = 0;
        U8_NEXT(token.data(), offset, length, c);
        if (c >= 0 && c < static_cast<UChar32>(symbols.byte.size()) &&
            symbols.byte[static_cast<std::size_t>(c)] >= 0)
            bytes += static_cast<char>(symbols.byte[static_cast<std::size_t>(c)]);
        else
            bytes.append(token, static_cast<std::size_t>(start), static_cast<std::size_t>(offset - start));
    }
}

// ---- The byte-level pre-tokenizer's pattern ----
//   's|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+
// written out as a scanner: linear in the text whatever it holds.

enum class CharClass { letter, number, space, other };

struct CodePoint {
    UChar32 c = 0;
    std::size_t begin = 0;
    CharClass kind = CharClass::other;
};

CharClass classify(UChar32 c) {
    if (c < 0)
        return CharClass::other;
    const auto mask = U_GET_GC_MASK(c);
    if (mask & U_GC_L_MASK)
        return CharClass::letter;
    if (mask & U_GC_N_MASK)
        return CharClass::number;
    if (u_isUWhiteSpace(c))
        return CharClass::space;
    return CharClass::other;
}

std::vector<CodePoint> codePoints(std::string_view text) {
    std::vector<CodePoint> points;
    points.reserve(text.size());
    const auto length = static_cast<int32_t>(text.size());
    int32_t offset = 0;
    while (offset < length) {
        const int32_t start = offset;
        UChar32 c = 0;
        U8_NEXT(text.data(), offset, length, c);
        points.push_back({c, static_cast<std::size_t>(start), classify(c)});
    }
    return points;
}

// Length in code points of a contraction starting at i ("'s", "'ll", ...), 0 when none.
std::size_t contractionLength(const std::vector<CodePoint>& p, std::size_t i) {
    if (p[i].c != '\'' || i + 1 >= p.size())
        return 0;
    const UChar32 a = p[i + 1].c;
    if (a == 's' || a == 't' || a == 'm' || a == 'd')
        return 2;
    if (i + 2 < p.size()) {
        const UChar32 b = p[i + 2].c;
        if ((a == 'r' && b == 'e') || (a == 'v' && b == 'e') || (a == 'l' && b == 'l'))
            return 3;
    }
    return 0;
}

std::size_t runEnd(const std::vector<CodePoint>& p, std::size_t i, CharClass kind) {
    while (i < p.size() && p[i].kind == kind)
        ++i;
    return i;
}

// End (in code points) of the piece that starts at i.
std::size_t pieceEnd(const std::vector<CodePoint>& p, std::size_t i) {
    if (const std::size_t contraction = contractionLength(p, i))
        return i + contraction;
    if (p[i].c == ' ' && i + 1 < p.size() && p[i + 1].kind != CharClass::space)
        return runEnd(p, i + 1, p[i + 1].kind);
    if (p[i].kind != CharClass::space)
        return runEnd(p, i, p[i].kind);
    const std::size_t end = runEnd(p, i, CharClass::space);
    // Before a non-space the run leaves its last space to the word that follows.
    return end < p.size() && end - i >= 2 ? end - 1 : end;
}

bool isWhitespaceByte(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

BpeTokenizer BpeTokenizer::build(const Json& config, const Json& data) {
    static const std::set<std::string> supportedClasses = {"WhisperTokenizer", "WhisperTokenizerFast",
                                                           "GPT2Tokenizer", "GPT2TokenizerFast"};
    if (!config.is_object())
        fail(Code::malformedFile, "tokenizer_config.json is not an object");
    const Json* tokenizerClass = member(config, "tokenizer_class");
    if (tokenizerClass == nullptr)
        fail(Code::malformedFile, "tokenizer_config.json names no tokenizer_class");
    if (const auto name = stringValue(*tokenizerClass, "tokenizer_class"); !supportedClasses.contains(name))
        fail(Code::unsupported, "tokenizer class " + name + " is not supported");
    if (!data.is_object())
        fail(Code::malformedFile, "tokenizer.json is not an object");
    if (member(data, "normalizer") != nullptr)
        fail(Code::unsupported, "tokenizer normalizers are not supported");

    BpeTokenizer tokenizer;
    tokenizer.readPreTokenizer(data);
    tokenizer.readModel(requiredObject(data, "model", "tokenizer.json"));
    if (const Json* added = member(data, "added_tokens"))
        tokenizer.readAddedTokens(*added);
    tokenizer.checkByteSymbols();
    return tokenizer;
}

void BpeTokenizer::readPreTokenizer(const Json& data) {
    const Json& pre = requiredObject(data, "pre_tokenizer", "tokenizer.json");
    requireType(pre, "ByteLevel", "pre_tokenizer");
    addPrefixSpace_ = optionalBool(pre, "add_prefix_space", true, "pre_tokenizer");
    useRegex_ = optionalBool(pre, "use_regex", true, "pre_tokenizer");
    requireType(requiredObject(data, "decoder", "tokenizer.json"), "ByteLevel", "decoder");
}

void BpeTokenizer::addToken(std::int32_t id, const std::string& text, Kind kind) {
    const auto index = static_cast<std::size_t>(id);
    if (index >= tokens_.size()) {
        tokens_.resize(index + 1);
        kinds_.resize(index + 1, Kind::none);
    }
    tokens_[index] = text;
    kinds_[index] = kind;
    vocabulary_[text] = id;
}

void BpeTokenizer::readModel(const Json& model) {
    if (const Json* type = member(model, "type");
        type != nullptr && stringValue(*type, "model type") != "BPE")
        fail(Code::unsupported, "tokenizer model " + type->get<std::string>() + " is not supported");
    requireNeutral(model);
    ignoreMerges_ = optionalBool(model, "ignore_merges", false, "model");

    const Json& vocab = requiredObject(model, "vocab", "model");
    for (const auto& [text, value] : vocab.items()) {
        const std::int32_t id = tokenId(value, "vocab \"" + text + "\"");
        // The multilingual vocabulary has one empty token; it is never produced and decodes to nothing.
        if (text.find('\0') != std::string::npos)
            fail(Code::malformedFile, "vocab holds a NUL character");
        if (static_cast<std::size_t>(id) < kinds_.size() &&
            kinds_[static_cast<std::size_t>(id)] != Kind::none)
            fail(Code::invalidContents, "vocab gives id " + std::to_string(id) + " to two tokens");
        addToken(id, text, Kind::vocabulary);
    }

    const Json* merges = member(model, "merges");
    if (merges == nullptr || !merges->is_array())
        fail(Code::malformedFile, "model has no array \"merges\"");
    if (merges->size() > kMaxMerges)
        fail(Code::invalidContents, "model has more than " + std::to_string(kMaxMerges) + " merges");
    merges_.reserve(merges->size());
    std::int32_t rank = 0;
    for (const Json& entry : *merges) {
        const std::string where = "merge " + std::to_string(rank);
        std::string left, right;
        if (entry.is_array() && entry.size() == 2) {
            left = stringValue(entry[0], where);
            right = stringValue(entry[1], where);
        } else {
            const std::string line = stringValue(entry, where);
            const auto space = line.find(' ');
            if (space == std::string::npos || line.find(' ', space + 1) != std::string::npos)
                fail(Code::malformedFile, where + " is not two tokens separated by one space");
            left = line.substr(0, space);
            right = line.substr(space + 1);
        }
        const auto l = vocabulary_.find(left), r = vocabulary_.find(right),
                   m = vocabulary_.find(left + right);
        if (l == vocabulary_.end() || r == vocabulary_.end() || m == vocabulary_.end())
            fail(Code::invalidContents,
                 where + " (\"" + left + "\", \"" + right + "\") is not in the vocabulary");
        const auto key = static_cast<std::uint64_t>(l->second) << 32 | static_cast<std::uint32_t>(r->second);
        merges_.try_emplace(key, Merge{rank, m->second});
        ++rank;
    }
}

void BpeTokenizer::readAddedTokens(const Json& added) {
    if (!added.is_array())
        fail(Code::malformedFile, "added_tokens is not an array");
    for (const Json& entry : added) {
        if (!entry.is_object())
            fail(Code::malformedFile, "an added token is not an object");
        const Json* idValue = member(entry, "id");
        const Json* contentValue = member(entry, "content");
        if (idValue == nullptr || contentValue == nullptr)
            fail(Code::malformedFile, "an added token lacks its id or content");
        const std::int32_t id = tokenId(*idValue, "added token");
        const std::string content = stringValue(*contentValue, "added token " + std::to_string(id));
        const std::string where = "added token \"" + content + "\"";
        if (content.empty())
            fail(Code::malformedFile, "added token " + std::to_string(id) + " is empty");
        if (optionalBool(entry, "single_word", false, where))
            fail(Code::unsupported, where + ": single_word is not supported");
        if (const auto known = vocabulary_.find(content); known != vocabulary_.end() && known->second != id)
            fail(Code::invalidContents, where + " has id " + std::to_string(id) + ", the vocabulary " +
                                            std::to_string(known->second));
        if (const auto index = static_cast<std::size_t>(id);
            index < kinds_.size() && kinds_[index] != Kind::none && tokens_[index] != content)
            fail(Code::invalidContents,
                 where + " takes id " + std::to_string(id) + " of \"" + tokens_[index] + "\"");
        addToken(id, content, Kind::added);
        addedTokens_.push_back({id, content, optionalBool(entry, "lstrip", false, where),
                                optionalBool(entry, "rstrip", false, where)});
    }
    std::stable_sort(addedTokens_.begin(), addedTokens_.end(),
                     [](const auto& a, const auto& b) { return a.content.size() > b.content.size(); });
    for (std::size_t i = 0; i < addedTokens_.size(); ++i)
        addedByFirstByte_[static_cast<unsigned char>(addedTokens_[i].content.front())].push_back(i);
}

void BpeTokenizer::checkByteSymbols() {
    const auto& symbols = byteSymbols();
    for (std::size_t b = 0; b < 256; ++b) {
        const auto found = vocabulary_.find(symbols.text[b]);
        if (found == vocabulary_.end() || kinds_[static_cast<std::size_t>(found->second)] != Kind::vocabulary)
            fail(Code::invalidContents, "the vocabulary lacks the symbol of byte " + std::to_string(b));
        byteIds_[b] = found->second;
    }
}

const BpeTokenizer::AddedToken* BpeTokenizer::addedTokenAt(std::string_view text, std::size_t offset) const {
    for (const std::size_t index : addedByFirstByte_[static_cast<unsigned char>(text[offset])]) {
        const AddedToken& token = addedTokens_[index];
        if (text.substr(offset, token.content.size()) == token.content)
            return &token;
    }
    return nullptr;
}

std::vector<std::int64_t> BpeTokenizer::encode(std::string_view text) const {
    std::vector<std::int64_t> ids;
    std::size_t segmentStart = 0;
    std::size_t offset = 0;
    while (offset < text.size()) {
        const AddedToken* token = addedTokenAt(text, offset);
        if (token == nullptr) {
            ++offset;
            continue;
        }
        std::string_view before = text.substr(segmentStart, offset - segmentStart);
        while (token->lstrip && !before.empty() && isWhitespaceByte(before.back()))
            before.remove_suffix(1);
        encodeOrdinaryText(before, ids);
        ids.push_back(token->id);
        offset += token->content.size();
        while (token->rstrip && offset < text.size() && isWhitespaceByte(text[offset]))
            ++offset;
        segmentStart = offset;
    }
    encodeOrdinaryText(text.substr(segmentStart), ids);
    return ids;
}

void BpeTokenizer::encodeOrdinaryText(std::string_view text, std::vector<std::int64_t>& ids) const {
    if (text.empty())
        return;
    std::string prefixed;
    if (addPrefixSpace_ && text.front() != ' ') {
        prefixed = " " + std::string(text);
        text = prefixed;
    }
    if (!useRegex_) {
        encodeWord(text, ids);
        return;
    }
    const auto points = codePoints(text);
    for (std::size_t i = 0; i < points.size();) {
        const std::size_t end = pieceEnd(points, i);
        const std::size_t begin = points[i].begin;
        const std::size_t stop = end < points.size() ? points[end].begin : text.size();
        encodeWord(text.substr(begin, stop - begin), ids);
        i = end;
    }
}

void BpeTokenizer::encodeWord(std::string_view word, std::vector<std::int64_t>& ids) const {
    if (ignoreMerges_) {
        std::string symbols;
        for (const char c : word)
            symbols += byteSymbols().text[static_cast<unsigned char>(c)];
        if (const auto found = vocabulary_.find(symbols); found != vocabulary_.end()) {
            ids.push_back(found->second);
            return;
        }
    }
    struct Symbol {
        std::int32_t id;
        int prev;
        int next;
    };
    struct Candidate {
        std::int32_t rank;
        int left;
        std::int32_t leftId, rightId, merged;
        bool operator>(const Candidate& other) const {
            return rank != other.rank ? rank > other.rank : left > other.left;
        }
    };
    const int count = static_cast<int>(word.size());
    std::vector<Symbol> symbols(word.size());
    for (int i = 0; i < count; ++i)
        symbols[static_cast<std::size_t>(i)] = {
            byteIds_[static_cast<unsigned char>(word[static_cast<std::size_t>(i)])], i - 1,
            i + 1 < count ? i + 1 : -1};
    std::priority_queue<Candidate, std::vector<Candidate>, std::greater<>> queue;
    const auto consider = [&](int left) {
        if (left < 0)
            return;
        const Symbol& l = symbols[static_cast<std::size_t>(left)];
        if (l.next < 0)
            return;
        const Symbol& r = symbols[static_cast<std::size_t>(l.next)];
        const auto key = static_cast<std::uint64_t>(l.id) << 32 | static_cast<std::uint32_t>(r.id);
        if (const auto found = merges_.find(key); found != merges_.end())
            queue.push({found->second.rank, left, l.id, r.id, found->second.merged});
    };
    for (int i = 0; i + 1 < count; ++i)
        consider(i);
    while (!queue.empty()) {
        const Candidate top = queue.top();
        queue.pop();
        Symbol& l = symbols[static_cast<std::size_t>(top.left)];
        // A stale candidate: one of its two symbols has been merged since it was queued.
        if (l.id != top.leftId || l.next < 0 || symbols[static_cast<std::size_t>(l.next)].id != top.rightId)
            continue;
        Symbol& r = symbols[static_cast<std::size_t>(l.next)];
        l.id = top.merged;
        l.next = r.next;
        if (r.next >= 0)
            symbols[static_cast<std::size_t>(r.next)].prev = top.left;
        r.id = -1;
        consider(l.prev);
        consider(top.left);
    }
    for (int i = count > 0 ? 0 : -1; i >= 0; i = symbols[static_cast<std::size_t>(i)].next)
        ids.push_back(symbols[static_cast<std::size_t>(i)].id);
}

std::string BpeTokenizer::decode(const std::vector<std::int64_t>& ids) const {
    std::string text;
    std::string bytes; // a run of vocabulary tokens, turned into text as a whole
    const auto flush = [&] {
        text += velnote::platform::replacingInvalidUtf8(bytes);
        bytes.clear();
    };
    for (const std::int64_t id : ids) {
        if (id < 0 || static_cast<std::uint64_t>(id) >= tokens_.size())
            continue;
        const auto index = static_cast<std::size_t>(id);
        if (kinds_[index] == Kind::vocabulary) {
            appendTokenBytes(tokens_[index], bytes);
        } else if (kinds_[index] == Kind::added) {
            flush();
            text += tokens_[index];
        }
    }
    flush();
    return text;
}

std::optional<std::int64_t> BpeTokenizer::tokenToId(std::string_view token) const {
    const auto found = vocabulary_.find(std::string(token));
    if (found == vocabulary_.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::string> BpeTokenizer::idToToken(std::int64_t id) const {
    if (id < 0 || static_cast<std::uint64_t>(id) >= tokens_.size() ||
        kinds_[static_cast<std::size_t>(id)] == Kind::none)
        return std::nullopt;
    return tokens_[static_cast<std::size_t>(id)];
}

} // namespace vocalith
