// Which legacy code page an archive's names were written in: tables of real-looking names per page,
// the pairs that decode in both pages, and the cases where the user's own page must stay.
#include "unzip32/core/NameDetection.h"

#include "tests/support/IconvNameCodec.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using kvtest::IconvNameCodec;
using unzip::DetectNamePage;

// Words of the language each page is written for (a page may serve several).
struct Words {
    unsigned page;
    std::vector<std::string> words;
};

const std::vector<std::string> kGerman = {"Größe", "Übersicht", "Änderung", "Prüfung", "Bücher", "Straße", "Häuser",
    "Lösung", "Schlüssel", "Gebühren", "Rechnung", "Müller", "Fotos", "Geschäft", "Überweisung", "Küche", "März",
    "Zürich"};
const std::vector<std::string> kSpanish = {
    "año", "niño", "canción", "música", "información", "señal", "España", "período", "cámara", "Análisis"};
const std::vector<std::string> kFrench = {"été", "élève", "Équipe", "café", "Noël", "garçon", "français", "déjà",
    "Québec", "forêt", "hôtel", "coût", "Données", "Réunion", "Économie"};
const std::vector<std::string> kPortuguese = {"São Paulo", "ação", "informação", "Conceição", "não", "mãe", "irmãos",
    "Ângela", "ÁGUA", "Órgão", "Ícone", "Ótimo", "lições", "Relatório"};
const std::vector<std::string> kNordic = {
    "København", "Smørrebrød", "Åland", "Göteborg", "Malmö", "Ærø", "Tromsø", "Æble", "Årsrapport", "Bilder"};
const std::vector<std::string> kPolish = {"Łódź", "zdjęcia", "żółw", "Gdańsk", "Kraków", "Wrocław", "książka", "świat",
    "źródło", "Śląsk", "ćwiczenia", "Dokumenty", "Ślub", "Łukasz", "Sprawozdanie", "Faktura", "ważne"};
const std::vector<std::string> kCzech = {"Příloha", "dokumentů", "Žádost", "účet", "Smlouva", "fotky", "Praha",
    "Čeština", "řešení", "Hudba", "přehled", "Účetnictví", "období", "Ústí", "Šťastný", "Ľubica"};
const std::vector<std::string> kHungarian = {"Számla", "Jelentés", "Fényképek", "Dokumentumok", "Győr", "Szerződés",
    "Összesítő", "Értekezlet", "Műszaki", "Táblázat", "Költségvetés", "Zene", "Képek", "Levél", "Ügyfél", "Munkaidő",
    "Értesítés", "Kérelem", "Fizetés", "Nyaralás"};
const std::vector<std::string> kRussian = {"Документы", "Отчёт", "за", "год", "Фотографии", "Новая папка", "Музыка",
    "Договор", "Счёт", "Презентация", "Москва", "Проект", "Бухгалтерия", "Письмо", "Справка", "Архив", "Таблица",
    "Смета", "Резюме", "Приказ", "Видео", "Книги", "Работа", "Заявление", "Протокол", "Отпуск", "Итоги"};
const std::vector<std::string> kUkrainian = {"Документи", "Звіт", "Фотографії", "Київ", "Львів", "Рахунок", "Договір",
    "Музика", "Проєкт", "Відпустка", "Заява", "Презентація", "Таблиця", "Ґрунт", "Їжа", "Школа", "Бухгалтерія"};
const std::vector<std::string> kSerbian = {"Документи", "Фотографије", "Извештај", "Београд", "Уговор", "Рачун",
    "Љубав", "Њива", "Ђак", "Ћерка", "Џеп", "Музика", "Пројекат", "Писмо", "Табела", "Књиге", "Слике", "Посао",
    "Захтев", "Записник", "Одмор", "Плата", "Нови Сад", "Школа", "Кућа", "Пријава"};
const std::vector<std::string> kGreek = {"Έγγραφα", "Φωτογραφίες", "Αναφορά", "Μουσική", "Σύμβαση", "Τιμολόγιο",
    "Αθήνα", "Θεσσαλονίκη", "Έργο", "Παρουσίαση", "Αρχείο", "Πίνακας", "Εικόνες", "Βιβλία", "Σημειώσεις", "Λογαριασμός",
    "Προσφορά", "Εργασία", "Μάθημα", "Ταξίδι", "Οικογένεια", "Γράμμα", "νέος", "φάκελος", "δοκιμή", "αντίγραφο",
    "Κρήτη", "Ελλάδα"};
const std::vector<std::string> kBaltic = {"Ataskaita", "Nuotraukos", "Sąskaita", "Dokumentų", "Vilnius", "Sutartis",
    "Žemėlapis", "Užduotis", "Mokėjimas", "Šeima", "Įmonė", "Darbų", "Ūkis", "Rīga", "Līgums", "Pārskats", "Ziņojums",
    "Grāmatas", "Mūzika", "Attēli", "Ģimene", "Ķekava", "Ceļojums", "Rēķins", "Jūrmala"};
const std::vector<std::string> kEstonian = {"Tallinn", "Õpik", "Jõulud", "Äri", "Küsimus", "Tööleht", "Aruanne",
    "Leping", "Pühapäev", "Õppetöö", "Tähtaeg", "Koosolek", "Müük", "Kõne", "Sõnum", "Eelarve", "Päevik", "Pärnu"};
const std::vector<std::string> kTurkish = {"Belgeler", "Fotoğraflar", "Müzik", "Sözleşme", "Fatura", "İstanbul",
    "Çalışma", "Öğrenci", "Şirket", "Görüşme", "Toplantı", "Ödeme", "Rapor", "Yazılım", "Ürün", "Değişiklik", "Kılavuz",
    "Işık", "Güncelleme", "İzmir", "Çizelge", "Sunum", "Şubat", "Eylül", "Müşteri", "Üretim"};
const std::vector<std::string> kHebrew = {"מסמכים", "תמונות", "דוח", "חשבונית", "חוזה", "מוזיקה", "ירושלים", "תל אביב",
    "פרויקט", "מצגת", "טבלה", "מכתב", "סיכום", "ישיבה", "תקציב", "עבודה", "ספרים", "סרטונים", "גיבוי", "הגדרות",
    "לקוחות", "משכורת", "חופשה", "בקשה", "מבחן", "שיעורי בית", "אישור", "הזמנה"};
const std::vector<std::string> kThai = {"เอกสาร", "รูปภาพ", "รายงาน", "ใบแจ้งหนี้", "สัญญา", "เพลง", "กรุงเทพ", "โครงการ",
    "การนำเสนอ", "ตาราง", "จดหมาย", "สรุป", "การประชุม", "งบประมาณ", "งาน", "หนังสือ", "วิดีโอ", "สำรอง", "ตั้งค่า", "ลูกค้า",
    "เงินเดือน", "วันหยุด", "คำขอ", "การบ้าน", "อนุมัติ", "ใบเสร็จ", "ภาษาไทย"};
const std::vector<std::string> kArabic = {"مستندات", "صور", "تقرير", "فاتورة", "عقد", "موسيقى", "القاهرة", "الرياض",
    "مشروع", "عرض تقديمي", "جدول", "رسالة", "ملخص", "اجتماع", "ميزانية", "عمل", "كتب", "فيديو", "نسخة احتياطية",
    "إعدادات", "عملاء", "راتب", "إجازة", "طلب", "اختبار", "موافقة", "خطة", "پروژه"};
const std::vector<std::string> kVietnamese = {"Tài liệu", "Hình ảnh", "Báo cáo", "Hóa đơn", "Hợp đồng", "Âm nhạc",
    "Hà Nội", "Dự án", "Bản trình bày", "Bảng tính", "Thư", "Tóm tắt", "Cuộc họp", "Ngân sách", "Công việc", "Sách",
    "Sao lưu", "Cài đặt", "Khách hàng", "Lương", "Nghỉ phép", "Đơn xin", "Bài kiểm tra", "Phê duyệt", "Kế hoạch",
    "Tiếng Việt"};
const std::vector<std::string> kJapanese = {"資料", "写真", "ドキュメント", "フォルダ", "表示", "ソフト", "報告書",
    "会議", "議事録", "新しいフォルダー", "設定", "画像", "音楽", "動画", "見積書", "請求書", "契約書", "日本語",
    "説明書", "プロジェクト", "テスト", "バックアップ", "デザイン", "仕様書", "データ", "年度", "売上", "計画", "東京",
    "まとめ"};
const std::vector<std::string> kSimplified = {"中文资料", "说明文档", "文件", "图片", "照片", "新建文件夹", "报告",
    "项目", "数据", "备份", "软件", "安装程序", "下载", "音乐", "视频", "工作", "学习", "会议记录", "合同", "公司",
    "客户", "财务", "计划", "总结", "测试", "课程", "作业", "北京", "上海", "年度报表"};
const std::vector<std::string> kTraditional = {"中文資料", "說明文件", "檔案", "圖片", "照片", "新增資料夾", "報告",
    "專案", "資料", "備份", "軟體", "安裝程式", "下載", "音樂", "影片", "工作", "學習", "會議記錄", "合約", "公司",
    "客戶", "財務", "計畫", "總結", "測試", "課程", "作業", "台北", "高雄", "年度報表"};
const std::vector<std::string> kKorean = {"문서", "사진", "보고서", "회의록", "계약서", "음악", "동영상", "프로젝트",
    "설정", "백업", "새 폴더", "견적서", "한국어", "데이터", "디자인", "테스트", "서울", "부산", "발표 자료",
    "최종 수정본", "첨부 파일", "작업", "과제", "학교", "회사", "개인", "사업 계획", "결과 보고", "일정표", "목록"};

std::vector<std::string> Join(std::initializer_list<const std::vector<std::string>*> lists)
{
    std::vector<std::string> all;
    for (const auto* list : lists)
        all.insert(all.end(), list->begin(), list->end());
    return all;
}

const std::vector<Words>& Languages()
{
    static const std::vector<Words> table = {
        {437, Join({&kGerman, &kSpanish})},
        {850, Join({&kFrench, &kPortuguese})},
        {852, kPolish},
        {866, kRussian},
        {737, kGreek},
        {775, kBaltic},
        {855, kSerbian},
        {857, kTurkish},
        {862, kHebrew},
        {874, kThai},
        {932, kJapanese},
        {936, kSimplified},
        {949, kKorean},
        {950, kTraditional},
        {1250, kCzech},
        {1250, kHungarian},
        {1251, Join({&kUkrainian, &kRussian})},
        {1252, Join({&kNordic, &kSpanish})},
        {1252, Join({&kGerman, &kFrench})},
        {1253, kGreek},
        {1254, kTurkish},
        {1255, kHebrew},
        {1256, kArabic},
        {1257, kBaltic},
        {1257, kEstonian},
        {1258, kVietnamese},
    };
    return table;
}

// A name as people and programs make them: words with digits, dates, brackets, copies, extensions.
std::string MakeName(const std::vector<std::string>& words, size_t i)
{
    const size_t n = words.size();
    const std::string& a = words[i % n];
    const std::string& b = words[(i * 7 + 3) % n];
    const std::string& c = words[(i * 13 + 5) % n];
    const std::string number = std::to_string(i % 31 + 1);
    switch (i % 10) {
    case 0: return a + " " + b + ".txt";
    case 1: return a + "_2023-" + number + ".docx";
    case 2: return "[" + a + "] " + b + " (" + number + ").pdf";
    case 3: return a + "/" + b + " " + c + ".jpg";
    case 4: return a + "." + b + ".v" + number + ".zip";
    case 5: return "0" + number + " - " + a + " " + b + ".xlsx";
    case 6: return a + " " + b + " " + c;
    case 7: return "Backup/" + a + " (copy " + number + ").bak";
    case 8: return a + "-" + b + "_final.pptx";
    default: return "IMG_" + number + " " + a + ".png";
    }
}

// A page's table: its names in UTF-8 (the truth) and as the page stores them.
struct Table {
    std::vector<std::string> text;
    std::vector<std::string> raw;
};

Table MakeTable(const IconvNameCodec& codec, const Words& language, size_t count)
{
    std::vector<std::string> words;
    std::string raw;
    for (const std::string& word : language.words) {
        if (codec.FromUtf8(language.page, word, raw))
            words.push_back(word);
    }
    EXPECT_GE(words.size(), 15u) << "page " << language.page;
    Table table;
    for (size_t i = 0; table.text.size() < count; ++i) {
        const std::string name = MakeName(words, i);
        EXPECT_TRUE(codec.FromUtf8(language.page, name, raw)) << name;
        table.text.push_back(name);
        table.raw.push_back(raw);
    }
    return table;
}

// Right when every name reads as its true text in the page detected; pages that give the same text
// are equal answers.
bool ReadsTrue(
    const IconvNameCodec& codec, unsigned page, const std::vector<std::string>& raw, const std::vector<std::string>& text)
{
    std::string utf8;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (!codec.ToUtf8(page, raw[i], utf8) || utf8 != text[i])
            return false;
    }
    return true;
}

size_t HighCharacters(const std::string& utf8)
{
    size_t count = 0;
    for (unsigned char c : utf8)
        count += c >= 0xC0;
    return count;
}

// Archives of 1, 3 and 20 consecutive names of each page's table, for a US user and for a Russian
// one; the rate of right answers is printed per table and size. Every archive of 20 names must be
// right. Of 3 names, at least 4 in 5 per table: the rest carry one or two accented letters that
// read as well in another page (Hungarian ő against Portuguese õ, Estonian ä against õ). Of one
// name, only names with at least 6 characters above ASCII count, and 19 in 20 of them over all
// tables: a short name that reads nearly as well in the user's page keeps it.
TEST(NameDetection, EveryPageOnArchivesOfOneThreeAndTwentyNames)
{
    const size_t kNames = 200;
    const size_t kOneNameMinimum = 6;
    size_t right = 0, total = 0, longRight = 0, longTotal = 0;
    for (unsigned userPage : {437u, 866u}) {
        const IconvNameCodec codec(userPage, userPage == 437 ? 1252 : 1251);
        for (const Words& language : Languages()) {
            const Table table = MakeTable(codec, language, kNames);
            std::string rates;
            for (size_t size : {1u, 3u, 20u}) {
                size_t sizeRight = 0, sizeTotal = 0, counted = 0, countedRight = 0;
                for (size_t first = 0; first + size <= kNames; first += size) {
                    const std::vector<std::string> raw(table.raw.begin() + first, table.raw.begin() + first + size);
                    const std::vector<std::string> text(table.text.begin() + first, table.text.begin() + first + size);
                    const bool ok = ReadsTrue(codec, DetectNamePage(raw, codec, userPage), raw, text);
                    sizeRight += ok;
                    ++sizeTotal;
                    if (size > 1 || HighCharacters(text[0]) >= kOneNameMinimum) {
                        countedRight += ok;
                        ++counted;
                    }
                }
                if (size > 1) {
                    EXPECT_GE(double(countedRight), (size == 20 ? 1.0 : 0.8) * double(counted))
                        << "page " << language.page << ", user " << userPage << ", " << size << " names";
                } else {
                    longRight += countedRight;
                    longTotal += counted;
                }
                right += sizeRight;
                total += sizeTotal;
                rates += " " + std::to_string(size) + ":" + std::to_string(sizeRight) + "/" + std::to_string(sizeTotal);
                if (size == 1)
                    rates += " (" + std::to_string(countedRight) + "/" + std::to_string(counted) + " long)";
            }
            std::printf("user %u, page %u:%s\n", userPage, language.page, rates.c_str());
        }
    }
    EXPECT_GE(double(longRight), 0.95 * double(longTotal));
    std::printf("detected right: %zu of %zu archives (%.1f %%); one long name: %zu of %zu\n", right, total,
        100.0 * double(right) / double(total), longRight, longTotal);
}

// Names written in the user's own OEM page always keep it: detection never undoes what decoding as
// Windows does.
TEST(NameDetection, TheUsersOwnPageIsKept)
{
    for (const Words& language : Languages()) {
        if (language.page >= 1250)
            continue;
        const IconvNameCodec codec(language.page);
        const Table table = MakeTable(codec, language, 60);
        for (size_t size : {1u, 3u, 20u}) {
            for (size_t first = 0; first + size <= table.raw.size(); first += size) {
                const std::vector<std::string> raw(table.raw.begin() + first, table.raw.begin() + first + size);
                const std::vector<std::string> text(table.text.begin() + first, table.text.begin() + first + size);
                EXPECT_TRUE(ReadsTrue(codec, DetectNamePage(raw, codec, language.page), raw, text))
                    << "page " << language.page << ": " << text[0];
            }
        }
    }
}

struct Case {
    const char* what;
    unsigned userPage;
    unsigned writtenIn;
    std::vector<std::string> names;  // UTF-8
    unsigned expectRead;             // the page whose text is right
};

TEST(NameDetection, PairsThatDecodeInBothPagesAndTheUsersPage)
{
    const std::vector<std::string> kSignArchive = {
        "Übersicht/Größe ändern.txt", "Übersicht/Straßenkarte für Köln.txt", "Übersicht/Bücher © Müller Verlag.txt"};
    const std::vector<Case> cases = {
        {"Japanese for a US user", 437, 932, {"日本語フォルダ/ソフト表示.txt"}, 932},
        {"Chinese for a US user", 437, 936, {"中文资料/说明文档.txt"}, 936},
        {"Japanese for a Chinese user", 936, 932, {"資料/会議.txt", "写真.jpg", "表示.txt"}, 932},
        {"Chinese for a Japanese user", 932, 936, {"中文资料/说明文档.txt", "图片.jpg", "照片.png"}, 936},
        {"kanji only, Chinese user", 936, 932, {"報告書.doc", "仕様書.doc", "東京/年度.txt"}, 932},
        {"Korean for a Chinese user", 936, 949, {"보고서.hwp", "사진/서울.jpg", "회의록.txt"}, 949},
        {"German for a Russian user", 866, 850, {"Größe.txt", "Übersicht/Prüfung.doc", "Straße 5.pdf"}, 850},
        {"Russian for a US user", 437, 866, {"Документы/Отчёт за 2023.txt"}, 866},
        {"same text in 437 and 850", 437, 850, {"Größe Übersicht.txt"}, 437},
        {"two plausible readings, one letter", 437, 437, {"Voilà.txt"}, 437},
        // 0xB8 is © in 850 and Ş in 852: a sign standing alone, not a foreign capital among German words.
        {"a lone sign for a US user", 437, 850, {"Übersicht/Bücher © Müller Verlag.txt"}, 850},
        {"a lone sign for a Russian user", 866, 850, {"Übersicht/Bücher © Müller Verlag.txt"}, 850},
        {"a lone sign among three names, US user", 437, 850, kSignArchive, 850},
        {"a lone sign among three names, Russian user", 866, 850, kSignArchive, 850},
    };
    for (const Case& c : cases) {
        const IconvNameCodec codec(c.userPage);
        std::vector<std::string> raw;
        std::string bytes;
        for (const std::string& name : c.names) {
            ASSERT_TRUE(codec.FromUtf8(c.writtenIn, name, bytes)) << c.what;
            raw.push_back(bytes);
        }
        const unsigned page = DetectNamePage(raw, codec, c.userPage);
        EXPECT_TRUE(ReadsTrue(codec, page, raw, c.names)) << c.what << ": read as " << page;
        std::vector<std::string> expected;
        for (const std::string& name : raw) {
            ASSERT_TRUE(codec.ToUtf8(c.expectRead, name, bytes));
            expected.push_back(bytes);
        }
        EXPECT_TRUE(ReadsTrue(codec, page, raw, expected)) << c.what << ": read as " << page;
    }
}

TEST(NameDetection, WeakEvidenceKeepsTheUsersPage)
{
    const IconvNameCodec codec(437);
    // One Danish letter: "København" in 850 against "K¢benhavn" in 437 rests on one character.
    const std::string o = "\x9b";  // ø in 850, ¢ in 437
    const std::string danish = "K" + o + "benhavn.txt";
    EXPECT_EQ(437u, DetectNamePage({danish}, codec, 437));
    // Many such names are evidence enough.
    std::vector<std::string> many;
    for (const std::string& word : {"K" + o + "benhavn", "Sm" + o + "rrebr" + o + "d", "Troms" + o, "Br" + o + "d"}) {
        for (int i = 0; i < 3; ++i)
            many.push_back(word + " " + std::to_string(i) + ".txt");
    }
    EXPECT_EQ(850u, DetectNamePage(many, codec, 437));
    // Nothing above ASCII: no choice to make. Nothing that reads well anywhere: the user's page.
    EXPECT_EQ(866u, DetectNamePage({"readme.txt", "src/main.c"}, codec, 866));
    EXPECT_EQ(437u, DetectNamePage({"\x01\xb0\xb1\xb2\xdb"}, codec, 437));
    // A page in which some name does not decode is never chosen, however well the others read.
    std::string shiftJis;
    ASSERT_TRUE(codec.FromUtf8(932, "日本語フォルダ", shiftJis));
    EXPECT_NE(932u, DetectNamePage({shiftJis, "\x81"}, codec, 437));
}

// Not a test: what detection costs on a big archive (run with --gtest_also_run_disabled_tests).
TEST(NameDetection, DISABLED_TwentyThousandNames)
{
    const IconvNameCodec codec(437);
    for (const Words& language : Languages()) {
        if (language.page != 932 && language.page != 866 && language.page != 1252)
            continue;
        const Table table = MakeTable(codec, language, 20000);
        const auto start = std::chrono::steady_clock::now();
        const unsigned page = DetectNamePage(table.raw, codec, 437);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("20000 names in %u: detected %u in %.3f s\n", language.page, page, seconds);
    }
}

}  // namespace
