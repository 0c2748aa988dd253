// The entry list's name keys order names exactly as the locale's collator
// compares them (case-sensitive), whether they come from the table of ASCII
// weights or from the collator itself, and the chunked sort agrees.
#include <unicode/ucol.h>
#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>
#include <string>
#include <vector>

#include "app/NameKeys.h"

namespace {

struct TNames {
    std::string pool;
    std::vector<std::size_t> starts{0};
    std::vector<std::string> list;
    void Add(const std::string& name) {
        list.push_back(name);
        pool += name;
        starts.push_back(pool.size());
    }
};

int sign(int v) {
    return (v > 0) - (v < 0);
}

// Names with long shared prefixes, case pairs, punctuation, digits and
// prefixes of each other, so that the sort must look deep into the keys.
TNames makeNames(bool withUmlauts) {
    TNames names;
    for (const char* n : {"",   "a",  "A",  "a.txt", "A.txt",    "a_b",      "a-b",     "a b",
                          "ab", "aB", "Ab", "AB",    "abc",      "ch",       "cH",      "Ch",
                          "h",  "c",  "ca", "aa",    "Aa",       "\xc3\xa5", "zz",      "Z",
                          "10", "9",  "~x", "(1)",   "Ordner/x", "ordner/x", "Ordner.x"}) {
        if (withUmlauts || std::string(n).find('\xc3') == std::string::npos) {
            names.Add(n);
        }
    }
    QRandomGenerator rng(4711);
    const std::string alphabet = "aAbBcChHzZ09 _-./~(";
    const char* const prefixes[] = {"", "Dokumente/Bericht_", "dokumente/bericht_",
                                    "Bilder/Urlaub/Strand_"};
    for (int i = 0; i < 1500; ++i) {
        std::string name = prefixes[rng.bounded(4)];
        const int length = static_cast<int>(rng.bounded(12));
        for (int k = 0; k < length; ++k) {
            name += alphabet[rng.bounded(static_cast<quint32>(alphabet.size()))];
        }
        if (withUmlauts && rng.bounded(5) == 0) {
            name.insert(rng.bounded(static_cast<quint32>(name.size() + 1)), "\xc3\xa4");
        }
        names.Add(name);
    }
    return names;
}

}  // namespace

class NameKeysTest : public QObject {
    Q_OBJECT

private slots:
    void orderMatchesCollator_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("umlauts");
        QTest::addColumn<bool>("asciiTable");
        QTest::newRow("German, ASCII") << "de_DE" << false << true;
        QTest::newRow("German, umlauts") << "de_DE" << true << false;
        QTest::newRow("English, ASCII") << "en_US" << false << true;
        QTest::newRow("Swedish, ASCII") << "sv_SE" << false << true;
        // "ch" is one letter in Czech and "aa" in Danish: the collator decides.
        QTest::newRow("Czech, ASCII") << "cs_CZ" << false << false;
        QTest::newRow("Danish, ASCII") << "da_DK" << false << false;
    }

    void orderMatchesCollator() {
        QFETCH(QString, locale);
        QFETCH(bool, umlauts);
        QFETCH(bool, asciiTable);
        const TNames names = makeNames(umlauts);
        const TNameKeys keys(QLocale(locale), names.pool, names.starts);
        QCOMPARE(keys.AsciiKeys(), asciiTable);
        QCOMPARE(keys.Size(), names.list.size());

        UErrorCode status = U_ZERO_ERROR;
        UCollator* collator = ucol_open(locale.toLatin1().constData(), &status);
        QVERIFY(U_SUCCESS(status));
        ucol_setStrength(collator, UCOL_TERTIARY);
        auto expected = [&](std::size_t a, std::size_t b) {
            UErrorCode s = U_ZERO_ERROR;
            const std::string& x = names.list[a];
            const std::string& y = names.list[b];
            return static_cast<int>(ucol_strcollUTF8(collator, x.data(),
                                                     static_cast<int32_t>(x.size()), y.data(),
                                                     static_cast<int32_t>(y.size()), &s));
        };

        // Every pair among the fixed names, random pairs among the others.
        QRandomGenerator rng(11);
        const std::size_t n = names.list.size();
        for (int i = 0; i < 30000; ++i) {
            const std::size_t a =
                i < 900 ? static_cast<std::size_t>(i / 30) : rng.bounded(static_cast<quint32>(n));
            const std::size_t b =
                i < 900 ? static_cast<std::size_t>(i % 30) : rng.bounded(static_cast<quint32>(n));
            if (sign(keys.Compare(a, b)) != sign(expected(a, b))) {
                QFAIL(qPrintable(QStringLiteral("%1 / %2").arg(
                    QString::fromStdString(names.list[a]), QString::fromStdString(names.list[b]))));
            }
        }

        // The sort: ascending by the collator, equal names in their old order.
        std::vector<TNameKeys::TItem> items;
        for (std::size_t i = 0; i < n; ++i) {
            // Positions run backwards, so stability is visible.
            items.push_back({0, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(n - i)});
        }
        keys.Sort(items.data(), items.data() + n);
        for (std::size_t i = 1; i < n; ++i) {
            const int c = expected(items[i - 1].key, items[i].key);
            QVERIFY2(c < 0 || (c == 0 && items[i - 1].position < items[i].position),
                     names.list[items[i].key].c_str());
        }
        ucol_close(collator);
    }
};

QTEST_MAIN(NameKeysTest)
#include "NameKeysTest.moc"
