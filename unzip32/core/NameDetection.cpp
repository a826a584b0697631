#include "unzip32/core/NameDetection.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace unzip {

namespace {

// How a decoded name reads is judged character by character, then word by word. Each page gets the
// sum over the archive's distinct name parts; the text alone decides, so two pages that give the
// same text get the same score.

enum class Script : uint8_t { None, Latin, Greek, Cyrillic, Hebrew, Arabic, Thai, Other, Han, Kana, HalfKana, Hangul };
enum class Kind : uint8_t { Neutral, Letter, Mark, Symbol, Bad };
enum class Case : uint8_t { None, Upper, Lower };

struct Char {
    char32_t code = 0;
    Kind kind = Kind::Neutral;
    Script script = Script::None;
    Case letterCase = Case::None;
    bool common = false;  // a letter some language in use writes, or a frequent ideograph
};

// Points per character above ASCII, and per fault in a word. A double-byte character stands for
// two single-byte ones, so it weighs about twice as much.
constexpr int kFrequentLetter = 3;     // a letter its language uses often
constexpr int kLetter = 2;             // any other letter of the alphabet
constexpr int kRareLetter = -2;        // a letter hardly any language writes
constexpr int kFrequentIdeograph = 7;  // a Han character or Hangul syllable of the short lists below
constexpr int kPlainIdeograph = 2;     // any other of the main blocks
constexpr int kKana = 7;               // kana are all but proof of Japanese
constexpr int kHalfWidthKana = -1;
constexpr int kMark = 1;
constexpr int kStrayMark = -6;
constexpr int kSymbol = -3;
constexpr int kLoneSign = 0;         // a sign names carry, with no letter beside it
constexpr int kLoneLetter = -6;      // a letter above ASCII standing alone that no language writes as a word
constexpr int kBad = -10;            // controls, box drawing, blocks, private use
constexpr int kMixedScript = -6;     // per letter of a second script inside one word
constexpr int kForeignInName = -4;   // per letter of a second script in one name
constexpr int kOddCase = -5;         // an uppercase letter after a lowercase one, inside a word
constexpr int kCapitals = -1;        // per letter after the first of a word in capitals only
constexpr int kAccentPair = -2;      // an accented Latin vowel right after another
constexpr int kFewVowels = -3;       // per vowel a word of an alphabet lacks (one in five letters)
constexpr int kMisplacedFinal = -4;  // a Hebrew final letter or Greek final sigma inside a word
constexpr int kSecondAccent = -3;    // a Greek word takes one accent
constexpr int kAccentCrowd = -3;     // per accented letter beyond half a Latin word
constexpr int kOffLanguage = -3;     // per accented letter outside the archive's likeliest two languages
constexpr int kSecondLanguage = -1;  // per accented letter that only a second language explains

// The user's page gives way only to a page ahead by at least this much (more than one telling
// character: a letter against a sign inside a word is worth 9) and by a share of the characters read.
constexpr long kMinAdvantage = 10;
constexpr long kAdvantagePerChars = 8;  // at least one point per this many characters above ASCII

// Name parts scored; beyond them the chosen page is only checked to decode every part.
constexpr size_t kScoredParts = 400;

// The code pages tried (made at load time), OEM pages first, each group roughly by how many people
// use it: after the user's pages, the earlier page takes a tie.
const std::vector<unsigned> kCandidates = {437, 850, 936, 932, 949, 950, 866, 852, 857, 737, 775, 855, 862, 874, 1252,
    1250, 1251, 1254, 1253, 1257, 1255, 1256, 1258};

// Accented letters (lowercase) of the languages written with Latin or Cyrillic letters beyond the
// basic alphabet. An archive's names are seldom in more than two languages: a page whose text
// needs more to explain its letters reads worse than one whose letters belong to one or two.
struct Language {
    Script script;
    const char* letters;  // UTF-8
};
const Language kLanguages[] = {
    {Script::Latin, "äöüßé"},                   // German
    {Script::Latin, "àâæçéèêëîïôœùûüÿ"},        // French
    {Script::Latin, "áéíóúñü"},                 // Spanish
    {Script::Latin, "áâãàçéêíóôõú"},            // Portuguese
    {Script::Latin, "àèéìíòóù"},                // Italian
    {Script::Latin, "åæøäöé"},                  // Danish, Norwegian, Swedish, Finnish
    {Script::Latin, "ąćęłńóśźż"},               // Polish
    {Script::Latin, "áäčďéěíĺľňóôŕřšťúůýž"},    // Czech, Slovak
    {Script::Latin, "áéíóöőúüű"},               // Hungarian
    {Script::Latin, "ăâîșşțţ"},                 // Romanian
    {Script::Latin, "čćđšž"},                   // Croatian, Slovenian
    {Script::Latin, "çğıöşüâîû"},               // Turkish
    {Script::Latin, "ąčęėįšųūž"},               // Lithuanian
    {Script::Latin, "āčēģīķļņšūž"},             // Latvian
    {Script::Latin, "äöõüšž"},                  // Estonian
    {Script::Latin, "àáâãèéêìíòóôõùúýăđĩũơư"},  // Vietnamese (with U+1EA0..U+1EF9)
    {Script::Cyrillic, "ё"},                    // Russian
    {Script::Cyrillic, "ієїґ"},                 // Ukrainian
    {Script::Cyrillic, "ёіў"},                  // Belarusian
    {Script::Cyrillic, "ђјљњћџ"},               // Serbian
    {Script::Cyrillic, "ѓѕјљњќџ"},              // Macedonian
};
constexpr size_t kLanguageCount = sizeof(kLanguages) / sizeof(kLanguages[0]);
static_assert(kLanguageCount <= 32, "the languages of a letter are kept as bits of a uint32_t");
constexpr size_t kVietnamese = 15;

// The most frequent Han characters of names (simplified, traditional and Japanese forms) and Hangul
// syllables. Other characters of the main blocks count too, less.
const char kFrequentHan[] =
    "的一是不了在人有我他这个们中来上大为和国地到以说时要就出会可也你对生能而子那得于着下自之年过发后作里用道行所然"
    "家种事成方多经么去法学如都同现当没动面起看定天分还进好小部其些主样理心本前开但因只从想实日者意无力它与长把机十"
    "民第公此已工使情明性知全三又关点正业外将两高间由问很最重并物手应向头文体政美相见被利什二等产或新己制身果加西斯"
    "月话合回特代内信表化老给世位次度门任常先海通教儿原东声提立及比员解水名真论处走义各入几口认条平系气题活更别打女"
    "变四神总何电数安少报才结反受目太量再感建务做接必场件计管期市直资命山金指克许统区保至队形社便空决治展马科司五基"
    "眼书非则听白却界达光放强即像难且权思王象完设式色路记南品住告类求据程北边死张该交规万取拉格望觉术领共确传师观清"
    "今切院让识候带导争运笑飞风步改收根干造言联持组每济车亲极林服快办议往元英证近失转令准布始怎存未远叫台单影具罗字"
    "爱流备连调深商算质团集百需价花华城石级整府离况请技际约示复病息究线似官火断精满支视消越器容照须九增研写称企八功"
    "包片史委查轻易早曾除农找装广显图念六引历首医局专费号另周较注语仅考落青选列红响虽推势参希古构房半节土投某案黑维"
    "划致律足态护七兴派孩验责营星够章音跟志底站严例防族供效续施留讲型料终答紧黄绝奇察母京段依批群项故按河米围江织害"
    "双境客纪采举父密低朝友诉止细愿千值男钱网热助育属坐限船职速刻乐否刚普球般校苦创久错承印晚试股脑预益阳若微继送急"
    "夜省初喜卫源食险待述陆习置居劳财环排福纳欢获模充负云停木游龙树层冷洲略范句室异激村策演简卡判州静退衣积余检差富"
    "灵协角占配征修皮胜降阶审善妈读超免压银买养执副乱抗帮宣佛岁航优香著田铁控税左右份艺背草块守酒岛托央户洋索款靠评"
    "版宝座释景顾弟登货互付换闻危核介讨丽良序升监临亮露永呼味野架域沙括杂误湾减编测败屋梦散温困封救贵缺楼县旧端探湖"
    "录叶春乡附港雨板庭归顺输补督油疗旅材笔词择寻厂睡博烟授园练篇肉馆训私庄丝翻森塔默握隐熟访弱歌店软典盘扩盖稳亿"
    "们個這來國時會過對裡後麼發現經動兩長樣將與進實點種聲話兒開當無學問從還見應頭間邊氣電機關義體東車區門師風請讓認"
    "聽幾線樓親寫醫歷讀變題號檔資圖設備軟載樂視頻報說書冊測試項單議記錄課業統數據庫網頁碼夾舊稿錄"
    "気発図写売楽広県済続処様専歳画類覧込働駅円仕員確認予保存履歴積請求契約込"
    "件档夹照备份序载频像格册稿例户账课作业库页模板源码具册季周";
const char kFrequentHangul[] =
    "이다의는에을를하가고지기한로서도리사자시어대수일나그인정들보전제아부해주성구있스장내상적위문우화과소동라만여무경"
    "방요연국모게세관것면실조오신원비생간개결중마없학와미공까발교명트드분통진저식행안후물반터러회날말호업금본및계형선"
    "심님당외용점체된감될히음데운르건양파차설영품단료악램백폴더새록견약테디터년월표목최종첨작획입니습너우리좋예카타프"
    "크플랜레포사진폴더";

// How often letters of the single-byte alphabets occur: the most frequent, the frequent, the ones
// seldom seen; the rest lie between. Text read in the wrong page draws its letters evenly.
struct LetterTiers {
    Script script;
    const char* top;  // UTF-8, lowercase
    const char* frequent;
    const char* seldom;
    int between;  // the points of the rest
};
const LetterTiers kTiers[] = {
    {Script::Latin, "éèàäöüçóáíñãąęłśżćčšžřěýůúőāēīūışğėųõåøæß", "", "", kLetter},
    {Script::Cyrillic, "оеаинтср", "влкмдпуі", "шюцщэфъ", 1},
    {Script::Greek, "αοειτσςνάέίό", "ηυρπκμλήύώ", "ξψζϊϋΐΰ", 1},
    {Script::Thai, "านรอกเงมยลวดทสตะคบปพหจขใไแโชำ", "", "ฃฅฆฌญฎฏฐฑฒณธฬฮฤฦฝฟฯ", kLetter},
};

std::vector<char32_t> SortedCodes(const char* utf8);

bool Contains(const std::vector<char32_t>& sorted, char32_t c)
{
    return std::binary_search(sorted.begin(), sorted.end(), c);
}

struct SortedTiers {
    std::vector<char32_t> top;
    std::vector<char32_t> frequent;
    std::vector<char32_t> seldom;
};

std::vector<SortedTiers> SortTiers()
{
    std::vector<SortedTiers> all;
    for (const LetterTiers& tier : kTiers)
        all.push_back({SortedCodes(tier.top), SortedCodes(tier.frequent), SortedCodes(tier.seldom)});
    return all;
}

std::vector<std::vector<char32_t>> SortLanguages()
{
    std::vector<std::vector<char32_t>> all;
    for (const Language& language : kLanguages)
        all.push_back(SortedCodes(language.letters));
    return all;
}

// The lists above as sorted code points, made at load time (a function's own static would need the
// runtime's thread-safe guard, which the library does without).
const std::vector<char32_t> kFrequentHanCodes = SortedCodes(kFrequentHan);
const std::vector<char32_t> kFrequentHangulCodes = SortedCodes(kFrequentHangul);
const std::vector<SortedTiers> kSortedTiers = SortTiers();
const std::vector<std::vector<char32_t>> kLanguageLetters = SortLanguages();
// The vowels of the alphabets that write them, accented or not, beyond the Latin-1 ones.
const std::vector<char32_t> kVowels = SortedCodes(
    "aeiouyAEIOUYąęėįųūāēīōőűăěůıơưœĄĘĖĮŲŪĀĒĪŌŐŰĂĚŮİƠƯŒ"
    "аеёиоуыэюяієїАЕЁИОУЫЭЮЯІЄЇαεηιουωάέήίόύώϊϋΐΰΑΕΗΙΟΥΩΆΈΉΊΌΎΏ");

// Signs that names carry with no letter beside them ("© 2023", "20°", "2×3", "1½"); read in
// another page such a byte is often a letter standing alone, which few languages write as a word.
// The letters above ASCII that some language does write as a word of their own (lowercase).
const std::vector<char32_t> kNameSigns = SortedCodes("©®°±§²³¹¼½¾µ×÷£¥¢«»™");
const std::vector<char32_t> kOneLetterWords = SortedCodes("àáèéìíòóùúåäöøőавзиійкосуяοηήω");

// UTF-8 as the codec gives it (well formed) to code points.
std::u32string Decode(const std::string& utf8)
{
    std::u32string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? lead : extra == 1 ? (lead & 0x1Fu) : extra == 2 ? (lead & 0x0Fu) : (lead & 0x07u);
        for (size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        out.push_back(code);
        i += extra + 1;
    }
    return out;
}

std::vector<char32_t> SortedCodes(const char* utf8)
{
    const std::u32string codes = Decode(utf8);
    std::vector<char32_t> sorted(codes.begin(), codes.end());
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted;
}

bool In(char32_t c, char32_t first, char32_t last)
{
    return c >= first && c <= last;
}

// Pairs laid out uppercase, lowercase (even, odd) or the other way round.
Case PairCase(char32_t c, bool upperEven)
{
    return ((c % 2 == 0) == upperEven) ? Case::Upper : Case::Lower;
}

Case LatinCase(char32_t c)
{
    if (In(c, 'A', 'Z') || (In(c, 0xC0, 0xDE) && c != 0xD7))
        return Case::Upper;
    if (In(c, 'a', 'z') || (In(c, 0xDF, 0xFF) && c != 0xF7))
        return Case::Lower;
    if (In(c, 0x100, 0x137) || In(c, 0x14A, 0x177) || In(c, 0x1E00, 0x1EFF) || c == 0x1A0 || c == 0x1A1 || c == 0x1AF ||
        c == 0x1B0 || In(c, 0x218, 0x21B))
        return PairCase(c, c != 0x1AF && c != 0x1B0);
    if (In(c, 0x139, 0x148) || In(c, 0x179, 0x17E))
        return PairCase(c, false);
    if (c == 0x178)
        return Case::Upper;
    if (c == 0x138 || c == 0x149 || c == 0x17F)
        return Case::Lower;
    return Case::None;
}

Case GreekCase(char32_t c)
{
    if (c == 0x386 || In(c, 0x388, 0x38F) || In(c, 0x391, 0x3AB))
        return Case::Upper;
    if (In(c, 0x3AC, 0x3CE))
        return Case::Lower;
    return Case::None;
}

Case CyrillicCase(char32_t c)
{
    if (In(c, 0x400, 0x42F))
        return Case::Upper;
    if (In(c, 0x430, 0x45F))
        return Case::Lower;
    if (In(c, 0x460, 0x481) || In(c, 0x48A, 0x4BF) || In(c, 0x4D0, 0x4FF))
        return PairCase(c, true);
    return Case::None;
}

// The lowercase form of an accented Latin or Cyrillic letter, to look it up in kLanguages.
char32_t Lower(const Char& ch)
{
    const char32_t c = ch.code;
    if (ch.letterCase != Case::Upper)
        return c;
    if (c < 0x100)
        return c + 0x20;
    if (c == 0x130)
        return 0x131;  // İ: Turkish, as ı
    if (c == 0x178)
        return 0xFF;
    if (ch.script == Script::Cyrillic && In(c, 0x400, 0x40F))
        return c + 0x50;
    if (ch.script == Script::Cyrillic && In(c, 0x410, 0x42F))
        return c + 0x20;
    if (ch.script == Script::Greek) {
        if (In(c, 0x391, 0x3AB))
            return c + 0x20;
        if (c == 0x386)
            return 0x3AC;
        if (In(c, 0x388, 0x38A))
            return c + 0x25;
        return c == 0x38C ? 0x3CC : c + 0x3F;  // Ό; Ύ, Ώ
    }
    return c + 1;
}

Char Letter(char32_t c, Script script, bool common, Case letterCase = Case::None)
{
    Char ch;
    ch.code = c;
    ch.kind = Kind::Letter;
    ch.script = script;
    ch.common = common;
    ch.letterCase = letterCase;
    return ch;
}

Char Other(char32_t c, Kind kind, Script script = Script::None)
{
    Char ch;
    ch.code = c;
    ch.kind = kind;
    ch.script = script;
    return ch;
}

bool InAnyLanguage(const Char& ch)
{
    const char32_t lower = Lower(ch);
    if (ch.script == Script::Latin && In(lower, 0x1EA0, 0x1EF9))
        return true;
    for (size_t i = 0; i < kLanguageCount; ++i) {
        if (kLanguages[i].script == ch.script && Contains(kLanguageLetters[i], lower))
            return true;
    }
    return false;
}

Char Classify(char32_t c)
{
    if (c < 0x80) {
        if (In(c, 'A', 'Z') || In(c, 'a', 'z'))
            return Letter(c, Script::Latin, true, LatinCase(c));
        return Other(c, c < 0x20 || c == 0x7F ? Kind::Bad : Kind::Neutral);
    }
    if (c < 0xA0 || c == 0xAD)
        return Other(c, Kind::Bad);
    if (c < 0xC0)
        return c == 0xAA || c == 0xBA ? Letter(c, Script::Latin, false) : Other(c, Kind::Symbol);
    if (c == 0xD7 || c == 0xF7)
        return Other(c, Kind::Symbol);
    if (c == 0x192)
        return Other(c, Kind::Symbol);  // ƒ, the florin sign
    if (c < 0x250 || In(c, 0x1E00, 0x1EFF)) {
        Char ch = Letter(c, Script::Latin, false, LatinCase(c));
        ch.common = InAnyLanguage(ch);
        return ch;
    }
    if (c < 0x2B0)
        return Letter(c, Script::Latin, false);
    if (c < 0x300)
        return Other(c, Kind::Symbol);
    if (c < 0x370)
        return Other(c, Kind::Mark);
    if (c < 0x400) {
        const Case letterCase = GreekCase(c);
        if (letterCase != Case::None)
            return Letter(c, Script::Greek, c != 0x3A2, letterCase);
        return c == 0x37E || c == 0x387 ? Other(c, Kind::Neutral) : Letter(c, Script::Greek, false);
    }
    if (c < 0x530) {
        Char ch = Letter(c, Script::Cyrillic, In(c, 0x410, 0x44F), CyrillicCase(c));
        if (!ch.common && ch.letterCase != Case::None)
            ch.common = InAnyLanguage(ch) || c == 0x490 || c == 0x491;
        return ch;
    }
    if (In(c, 0x591, 0x5C7))
        return c == 0x5BE || c == 0x5C0 || c == 0x5C3 || c == 0x5C6 ? Other(c, Kind::Neutral)
                                                                    : Other(c, Kind::Mark, Script::Hebrew);
    if (In(c, 0x5D0, 0x5EA))
        return Letter(c, Script::Hebrew, true);
    if (In(c, 0x5F0, 0x5F2))
        return Letter(c, Script::Hebrew, false);
    if (In(c, 0x5F3, 0x5F4))
        return Other(c, Kind::Neutral);
    if (In(c, 0x600, 0x6FF)) {
        if (In(c, 0x64B, 0x65F) || c == 0x670)
            return Other(c, Kind::Mark, Script::Arabic);
        if (c == 0x60C || c == 0x61B || c == 0x61F || In(c, 0x660, 0x66D))
            return Other(c, Kind::Neutral);
        const bool common = In(c, 0x621, 0x63A) || In(c, 0x641, 0x64A) || c == 0x67E || c == 0x686 || c == 0x698 ||
            c == 0x6A9 || c == 0x6AF || c == 0x6CC || c == 0x6BE || c == 0x688 || c == 0x691 || c == 0x6BA ||
            c == 0x6C1 || c == 0x6D2 || c == 0x679;
        return Letter(c, Script::Arabic, common);
    }
    if (In(c, 0x750, 0x77F) || In(c, 0xFB50, 0xFDFF) || In(c, 0xFE70, 0xFEFF))
        return Letter(c, Script::Arabic, false);
    if (In(c, 0xE00, 0xE7F)) {
        if (c == 0xE31 || In(c, 0xE34, 0xE3A) || In(c, 0xE47, 0xE4E))
            return Other(c, Kind::Mark, Script::Thai);
        if (In(c, 0xE50, 0xE59))
            return Other(c, Kind::Neutral);
        if (In(c, 0xE01, 0xE2E) || c == 0xE30 || c == 0xE32 || c == 0xE33 || In(c, 0xE40, 0xE46))
            return Letter(c, Script::Thai, true);
        return Other(c, Kind::Symbol);
    }
    if (In(c, 0x1100, 0x11FF) || In(c, 0x3130, 0x318F))
        return Letter(c, Script::Hangul, false);
    if (In(c, 0x2000, 0x206F)) {
        if (In(c, 0x2010, 0x2027) || In(c, 0x2030, 0x205E))
            return Other(c, Kind::Neutral);
        return Other(c, c == 0x2000 || c == 0x2002 || c == 0x2003 ? Kind::Neutral : Kind::Bad);
    }
    if (c == 0x20AC || c == 0x2116)
        return Other(c, Kind::Neutral);  // €, №
    if (In(c, 0x2500, 0x25FF))
        return Other(c, Kind::Bad);
    if (In(c, 0x3000, 0x303F)) {
        if (c == 0x3005)
            return Letter(c, Script::Han, true);
        return c <= 0x3003 || In(c, 0x3008, 0x3011) || In(c, 0x3014, 0x301B) ? Other(c, Kind::Neutral)
                                                                             : Other(c, Kind::Symbol);
    }
    if (In(c, 0x3041, 0x3096) || In(c, 0x30A1, 0x30FA) || c == 0x30FC)
        return Letter(c, Script::Kana, true);
    if (In(c, 0x3040, 0x30FF))
        return c == 0x30FB ? Other(c, Kind::Neutral) : Letter(c, Script::Kana, false);
    if (In(c, 0x4E00, 0x9FFF)) {
        Char ch = Letter(c, Script::Han, true);
        ch.common = Contains(kFrequentHanCodes, c);
        return ch;
    }
    if (In(c, 0xAC00, 0xD7A3)) {
        Char ch = Letter(c, Script::Hangul, true);
        ch.common = Contains(kFrequentHangulCodes, c);
        return ch;
    }
    if (In(c, 0x3400, 0x4DBF) || In(c, 0xF900, 0xFAFF) || In(c, 0x20000, 0x3134F))
        return Letter(c, Script::Han, false);
    if (In(c, 0xD800, 0xF8FF) || c >= 0xFFF0)
        return Other(c, Kind::Bad);
    if (In(c, 0xFF01, 0xFF5E))
        return Other(c, Kind::Neutral);  // full-width ASCII
    if (In(c, 0xFF66, 0xFF9F))
        return Letter(c, Script::HalfKana, false);
    if (In(c, 0x2190, 0x2BFF) || In(c, 0x2070, 0x218F) || In(c, 0x3100, 0x33FF) || In(c, 0xFE30, 0xFE6F) ||
        In(c, 0xFF00, 0xFFEF))
        return Other(c, Kind::Symbol);
    return Letter(c, Script::Other, false);
}

bool Alphabetic(Script script)
{
    return script != Script::None && script < Script::Han;
}
bool Bicameral(Script script)
{
    return script == Script::Latin || script == Script::Greek || script == Script::Cyrillic;
}

// Which script a mark may follow.
bool MarkFits(const Char& mark, const Char& before)
{
    if (before.kind != Kind::Letter && before.kind != Kind::Mark)
        return false;
    if (mark.script == Script::None)
        return Bicameral(before.script);
    return mark.script == before.script;
}

// What one page makes of the archive: its score and the accented letters per language group.
struct Reading {
    unsigned page = 0;
    bool decodes = true;
    long score = 0;
    long chars = 0;  // characters above ASCII
    // Latin and Cyrillic letters beyond the basic alphabets: which languages write each, how often.
    struct Accented {
        Script script;
        char32_t letter;
        uint32_t languages;
        long count;
    };
    std::vector<Accented> accented;
};

int LetterPoints(const Char& ch)
{
    switch (ch.script) {
    case Script::Han:
    case Script::Hangul:
        if (ch.code >= 0x4E00 && ch.code <= 0xD7A3)
            return ch.common ? kFrequentIdeograph : kPlainIdeograph;
        return ch.common ? kLetter : kRareLetter;
    case Script::Kana: return ch.common ? kKana : kRareLetter;
    case Script::HalfKana: return kHalfWidthKana;
    default: break;
    }
    if (!ch.common)
        return kRareLetter;
    for (size_t i = 0; i < sizeof(kTiers) / sizeof(kTiers[0]); ++i) {
        if (kTiers[i].script != ch.script)
            continue;
        const char32_t lower = ch.letterCase == Case::Upper ? Lower(ch) : ch.code;
        if (Contains(kSortedTiers[i].top, lower) || (ch.script == Script::Latin && In(lower, 0x1EA0, 0x1EF9)))
            return kFrequentLetter;
        if (Contains(kSortedTiers[i].frequent, lower))
            return kLetter;
        return Contains(kSortedTiers[i].seldom, lower) ? 0 : kTiers[i].between;
    }
    return kFrequentLetter;
}

// À..Ý, à..ý and the like: the Latin-1 letters other than Æ, Ç, Ð, Ñ, ß, Þ and their lowercase forms.
bool AccentedVowel(const Char& ch)
{
    const char32_t c = ch.code | 0x20;
    return ch.script == Script::Latin && In(c, 0xE0, 0xFD) && c != 0xE7 && c != 0xF0 && c != 0xF1 && c != 0xF7 &&
        c != 0xE6;
}

// The vowels of the alphabets that write them, accented or not.
bool Vowel(const Char& ch)
{
    return AccentedVowel(ch) || Contains(kVowels, ch.code) ||
        (ch.script == Script::Latin && In(ch.code, 0x1EA0, 0x1EF9));
}

// The faults of one word of an alphabetic script: a second script, odd case, too many accents.
long WordPoints(const std::vector<Char>& word)
{
    long points = 0;
    long letters = 0;
    long perScript[static_cast<int>(Script::Other) + 1] = {};
    long accentedLatin = 0;
    long capitals = 0;
    long vowels = 0;
    long greekAccents = 0;
    bool high = false;
    const Char* previous = nullptr;
    for (size_t i = 0; i < word.size(); ++i) {
        const Char& ch = word[i];
        if (ch.kind != Kind::Letter)
            continue;
        const bool last = i + 1 == word.size() || word[i + 1].kind != Kind::Letter;
        const char32_t c = ch.code;
        if (!last && (c == 0x5DA || c == 0x5DD || c == 0x5DF || c == 0x5E3 || c == 0x5E5 || c == 0x3C2))
            points += kMisplacedFinal;
        greekAccents += c == 0x386 || In(c, 0x388, 0x38F) || In(c, 0x3AC, 0x3B0);
        ++letters;
        capitals += ch.letterCase == Case::Upper;
        vowels += Vowel(ch);
        high = high || ch.code >= 0x80;
        ++perScript[static_cast<int>(ch.script)];
        if (ch.script == Script::Latin && ch.code >= 0x80)
            ++accentedLatin;
        if (previous && ch.letterCase == Case::Upper && previous->letterCase == Case::Lower &&
            (ch.code >= 0x80 || previous->code >= 0x80))
            points += kOddCase;
        if (previous && AccentedVowel(ch) && AccentedVowel(*previous))
            points += kAccentPair;
        previous = &ch;
    }
    const long majority = *std::max_element(std::begin(perScript), std::end(perScript));
    points += kMixedScript * (letters - majority);
    if (high && letters >= 3 && capitals == letters)
        points += kCapitals * (letters - 1);
    if (greekAccents > 1)
        points += kSecondAccent * (greekAccents - 1);
    const int main = static_cast<int>(std::max_element(std::begin(perScript), std::end(perScript)) - perScript);
    if (high && letters >= 5 && (Bicameral(static_cast<Script>(main))) && vowels * 5 < letters)
        points += kFewVowels * ((letters + 4) / 5 - vowels);
    if (majority == perScript[static_cast<int>(Script::Latin)] && accentedLatin * 2 > letters + 1)
        points += kAccentCrowd * (accentedLatin - (letters + 1) / 2);
    return points;
}

// A run of East Asian characters: Hangul does not mix with kana or Han inside a word, nor
// half-width kana with the rest.
long IdeographRunPoints(const std::vector<Char>& run)
{
    long han = 0, kana = 0, half = 0, hangul = 0;
    for (const Char& ch : run) {
        han += ch.script == Script::Han;
        kana += ch.script == Script::Kana;
        half += ch.script == Script::HalfKana;
        hangul += ch.script == Script::Hangul;
    }
    const long full = han + kana;
    long points = kMixedScript * std::min(hangul, full + half);
    points += kMixedScript * std::min(half, full);
    return points;
}

// A letter, a mark or a digit: what a letter standing alone has on neither side.
bool WordCharacter(const Char& ch)
{
    return ch.kind == Kind::Letter || ch.kind == Kind::Mark || In(ch.code, '0', '9');
}

// The score of one decoded name part.
void Score(const std::u32string& text, Reading& reading)
{
    std::vector<Char> chars;
    chars.reserve(text.size());
    for (char32_t c : text)
        chars.push_back(Classify(c));

    long points = 0;
    long perScript[static_cast<int>(Script::Hangul) + 1] = {};
    for (size_t i = 0; i < chars.size(); ++i) {
        const Char& ch = chars[i];
        if (ch.code < 0x80) {
            if (ch.kind == Kind::Bad)
                points += kBad;
            continue;
        }
        ++reading.chars;
        switch (ch.kind) {
        case Kind::Letter:
            points += LetterPoints(ch);
            if (Bicameral(ch.script) && !(i > 0 && WordCharacter(chars[i - 1])) &&
                !(i + 1 < chars.size() && WordCharacter(chars[i + 1])) && !Contains(kOneLetterWords, Lower(ch)) &&
                !In(ch.code, 0x1EA0, 0x1EF9))
                points += kLoneLetter;
            ++perScript[static_cast<int>(ch.script)];
            if ((ch.script == Script::Latin || ch.script == Script::Cyrillic) && ch.common &&
                !(ch.script == Script::Cyrillic && In(ch.code, 0x410, 0x44F))) {
                const char32_t lower = Lower(ch);
                auto found = std::find_if(reading.accented.begin(), reading.accented.end(),
                    [&](const Reading::Accented& a) { return a.letter == lower && a.script == ch.script; });
                if (found == reading.accented.end()) {
                    uint32_t languages = 0;
                    for (size_t k = 0; k < kLanguageCount; ++k) {
                        if (kLanguages[k].script == ch.script &&
                            (Contains(kLanguageLetters[k], lower) || (k == kVietnamese && In(lower, 0x1EA0, 0x1EF9))))
                            languages |= 1u << k;
                    }
                    reading.accented.push_back({ch.script, lower, languages, 0});
                    found = reading.accented.end() - 1;
                }
                ++found->count;
            }
            break;
        case Kind::Mark: points += i > 0 && MarkFits(ch, chars[i - 1]) ? kMark : kStrayMark; break;
        case Kind::Symbol: {
            const bool letterBefore = i > 0 && chars[i - 1].kind == Kind::Letter;
            const bool letterAfter = i + 1 < chars.size() && chars[i + 1].kind == Kind::Letter;
            if (letterBefore && letterAfter)
                points += 2 * kSymbol;  // inside a word it stands for a letter of another page
            else
                points += !letterBefore && !letterAfter && Contains(kNameSigns, ch.code) ? kLoneSign : kSymbol;
            break;
        }
        case Kind::Bad: points += kBad; break;
        case Kind::Neutral: break;
        }
    }

    // One script per name: East Asian scripts count as one here, their runs are judged below.
    long eastAsian = 0, total = 0, majority = 0;
    for (int s = 0; s <= static_cast<int>(Script::Hangul); ++s) {
        total += perScript[s];
        if (s >= static_cast<int>(Script::Han))
            eastAsian += perScript[s];
        else
            majority = std::max(majority, perScript[s]);
    }
    majority = std::max(majority, eastAsian);
    points += kForeignInName * (total - majority);

    // Words: runs of alphabetic letters and their marks; runs of East Asian characters.
    // East Asian characters inside a word of Latin letters, or before its lowercase letters, are
    // another page's accented letters.
    std::vector<Char> run;
    bool runIsAlphabetic = false;
    bool afterLatin = false;
    auto flush = [&] {
        if (!run.empty())
            points += runIsAlphabetic ? WordPoints(run) : IdeographRunPoints(run);
        run.clear();
    };
    for (size_t i = 0; i < chars.size(); ++i) {
        const Char& ch = chars[i];
        if (ch.kind == Kind::Letter && !Alphabetic(ch.script) && i + 1 < chars.size() &&
            chars[i + 1].script == Script::Latin && chars[i + 1].code < 0x80)
            points += afterLatin ? kMixedScript : chars[i + 1].letterCase == Case::Lower ? kMixedScript / 2 : 0;
        afterLatin = ch.kind == Kind::Letter && (ch.script == Script::Latin || (!Alphabetic(ch.script) && afterLatin));
        const bool alphabetic = (ch.kind == Kind::Letter && Alphabetic(ch.script)) || ch.kind == Kind::Mark;
        const bool ideograph = ch.kind == Kind::Letter && !Alphabetic(ch.script);
        if (!alphabetic && !ideograph) {
            flush();
            continue;
        }
        if (!run.empty() && alphabetic != runIsAlphabetic)
            flush();
        runIsAlphabetic = alphabetic;
        run.push_back(ch);
    }
    flush();
    reading.score += points;
}

// The score with the languages settled: accented letters that the likeliest one or two languages
// of their script do not write cost points, and one language is likelier than two.
long FinalScore(const Reading& reading)
{
    long score = reading.score;
    for (Script script : {Script::Latin, Script::Cyrillic}) {
        long total = 0, best = 0, bestSingle = 0;
        for (const Reading::Accented& a : reading.accented)
            total += a.script == script ? a.count : 0;
        for (size_t i = 0; i < kLanguageCount && total > 0; ++i) {
            for (size_t j = i; j < kLanguageCount && kLanguages[i].script == script; ++j) {
                const uint32_t pair = (1u << i) | (1u << j);
                long covered = 0;
                for (const Reading::Accented& a : reading.accented)
                    covered += a.script == script && (a.languages & pair) ? a.count : 0;
                best = std::max(best, covered);
                if (i == j)
                    bestSingle = std::max(bestSingle, covered);
            }
        }
        score += kOffLanguage * (total - best) + kSecondLanguage * (best - bestSingle);
    }
    return score;
}

bool HasHighByte(const std::string& bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace

const std::vector<unsigned>& CandidateNamePages()
{
    return kCandidates;
}

unsigned DetectNamePage(const std::vector<std::string>& rawNames, const NameCodec& codec, unsigned userPage)
{
    // Distinct parts between slashes (0x2F is never the second byte of a double-byte character in
    // these pages), each scored once.
    std::vector<std::string> parts;
    std::unordered_set<std::string> seen;
    for (const std::string& name : rawNames) {
        if (!HasHighByte(name))
            continue;
        size_t begin = 0;
        while (begin <= name.size()) {
            size_t end = name.find('/', begin);
            if (end == std::string::npos)
                end = name.size();
            std::string part = name.substr(begin, end - begin);
            if (HasHighByte(part) && seen.insert(part).second)
                parts.push_back(std::move(part));
            begin = end + 1;
        }
    }
    if (parts.empty())
        return userPage;

    // The user's OEM page first, then the ANSI page: the earlier page wins a tie.
    std::vector<Reading> readings;
    auto add = [&](unsigned page) {
        if (std::none_of(readings.begin(), readings.end(), [&](const Reading& r) { return r.page == page; })) {
            readings.emplace_back();
            readings.back().page = page;
        }
    };
    add(userPage);
    add(codec.AnsiPage());
    for (unsigned page : CandidateNamePages())
        add(page);

    const size_t scored = std::min(parts.size(), kScoredParts);
    std::string utf8;
    for (Reading& reading : readings) {
        for (size_t i = 0; i < scored && reading.decodes; ++i) {
            if (codec.ToUtf8(reading.page, parts[i], utf8))
                Score(Decode(utf8), reading);
            else
                reading.decodes = false;
        }
    }

    // The best page, unless the user's page reads about as well.
    auto choose = [&]() -> Reading* {
        Reading* best = nullptr;
        long bestScore = 0;
        for (Reading& reading : readings) {
            const long score = FinalScore(reading);
            if (reading.decodes && (!best || score > bestScore)) {
                best = &reading;
                bestScore = score;
            }
        }
        Reading& user = readings.front();
        if (!best || best == &user || !user.decodes)
            return best;
        const long advantage = bestScore - FinalScore(user);
        const long needed = std::max(kMinAdvantage, best->chars / kAdvantagePerChars);
        return bestScore > 0 && advantage >= needed ? best : &user;
    };
    // Beyond the scored parts the choice must still decode every part; a page that does not gives
    // way to the next choice.
    for (;;) {
        Reading* choice = choose();
        if (!choice)
            return userPage;
        for (size_t i = scored; i < parts.size() && choice->decodes; ++i)
            choice->decodes = codec.ToUtf8(choice->page, parts[i], utf8);
        if (choice->decodes)
            return choice->page;
    }
}

}  // namespace unzip
