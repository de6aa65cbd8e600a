#include "base/convert.h"
#include "engine/single_person.h"
#include "mainwindow/calculator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace iit::mainwindow {
namespace {

// Plays the display's part as the main window does: every change of the text runs the
// display-changed processing, which may replace the text.
struct Display {
    CalculatorState calc;
    Text text = engine::incomePlaceholder();
    int caret = 0;
    int evaluations = 0; // tax calculations started by "＝"

    void set(const Text& t) {
        text = t;
        const DisplayUpdate u = calc.displayChanged(t);
        if (u.replacement) return set(*u.replacement);
        caret = std::min(u.caret, TextLength(text));
    }
    void press(const std::string& key) {
        if (key == "+") return set(calc.pressOperator(Operator::Add, text));
        if (key == "-") return set(calc.pressOperator(Operator::Subtract, text));
        if (key == "*") return set(calc.pressOperator(Operator::Multiply, text));
        if (key == "/") return set(calc.pressOperator(Operator::Divide, text));
        if (key == "%") return set(calc.pressOperator(Operator::Percent, text));
        if (key == "C") {
            calc.Clear();
            return set(Text{});
        }
        if (key == "<") return set(CalculatorState::deleteLast(text));
        if (key == "=") {
            const auto e = calc.Evaluate(text);
            set(e.display);
            if (e.ok) ++evaluations;
            return;
        }
        set(calc.enterKey(Text::fromBytes(key), text, caret, 0));
        calc.keyDone();
    }
    void keys(const std::vector<std::string>& ks) {
        for (const std::string& k : ks)
            press(k);
    }
};

TEST(Calculator, KeySequences) {
    struct Case {
        std::vector<std::string> keys;
        const char* display;
    };
    const Case cases[] = {
        {{"5"}, "5"},                     // replaces the placeholder
        {{"8", "0", "0", "0", "="}, "0"}, // no operator: the accumulator
        {{"2", "+", "3", "="}, "5"},
        {{"1", "+", "2", "+", "3", "="}, "5"}, // operators do not chain
        {{"2", "+", "3", "=", "="}, "10"},     // the flags stay; v is the display, 5
        {{"2", "0", "0", "*", "1", "5", "%", "1", "0", "="}, "1.5"},
        {{"5", "0", "%", "2", "0", "="}, "10"},
        {{"5", "+", "C", "="}, "0"},
        {{"1", ".", "2", ".", "3"}, "1.2.3"},
        {{"1", "2", "<"}, "1"},
        {{"<"}, ""}, // the placeholder counts as empty
        {{"7", "/", "2", "="}, "3.5"},
        {{"0", ".", "1", "+", "0", ".", "2", "="}, "0.3"}, // the keypad's own arithmetic
        {{"1", ".", "0", "0", "5", "*", "1", "0", "0", "="}, "100.5"},
        {{"0", "0", "1"}, "001"},
        {{"2", "0", "0", "0", "0", "0", "0", "0", "0"}, "200000000"},
        {{"2", "0", "0", "0", "0", "0", "0", "0", "0", "0"}, "数值过大"}, // the tenth digit
        {{"1", "9", "9", "9", "9", "9", "9", "9", "9", "9"}, "数值过大"},
        {{"1", "9", "9", "9", "9", "9", "9", "9", "9", "8"}, "1999999998"},
        {{"2", "0", "0", "0", "0", "0", "0", "0", "0", "0", "7"}, "7"}, // the next key replaces it
        {{"9", "9", "9", "9", "9", "*", "9", "9", "9", "9", "9", "="}, "数值过大"},
        {{"5", "/", "0", "="}, "除数不能为零"},
        {{"0", "/", "0", "="}, "除数不能为零"},
        {{"5", "/", "0", "=", "3"}, "3"},
        {{"5", "/", "0", "=", "+", "2", "="}, "2"}, // the error text counts as 0
        // What "←" leaves of a message is replaced whole by the next entry key.
        {{"2", "0", "0", "0", "0", "0", "0", "0", "0", "0", "<", "7"}, "7"},
        {{"2", "0", "0", "0", "0", "0", "0", "0", "0", "0", "<", "<", "<", "."}, "."},
        {{"5", "/", "0", "=", "<", "<", "4"}, "4"},
        {{"5", "/", "0", "=", "<", "<", "<", "<", "<", "<", "4"}, "4"}, // emptied: a new number
    };
    for (const Case& c : cases) {
        Display d;
        d.keys(c.keys);
        std::string seq;
        for (const auto& k : c.keys)
            seq += k + " ";
        EXPECT_EQ(d.text.toUtf8(), c.display) << seq;
    }
}

TEST(Calculator, MessagesAreReplacedWhole) {
    const struct {
        const char* display;
        bool message;
    } cases[] = {
        {"数值过大", true},   {"数值过", true},     {"数", true},     {"除数不能为零", true},
        {"除数不能为", true}, {"除", true},         {"", false},      {"12", false},
        {"1除", false},       {"数值过大7", false}, {"除7数", false}, {"值", false},
    };
    for (const auto& c : cases) {
        const Text display = Text::fromUtf8(c.display);
        EXPECT_EQ(showsMessage(display), c.message) << c.display;
        EXPECT_EQ(clearsBeforeTypedDigit(display), c.message) << c.display;
    }
    EXPECT_FALSE(showsMessage(engine::incomePlaceholder()));
    EXPECT_TRUE(clearsBeforeTypedDigit(engine::incomePlaceholder()));

    // Wherever the caret stands in a message, and whatever is selected of it, an entry key
    // gives just the key: never "除7数不能为零".
    for (const Text& message : {divideByZeroText(), tooLargeText(), Text::fromUtf8("数值过")}) {
        for (int caret = 0; caret <= TextLength(message); caret += 2) {
            CalculatorState c;
            c.entry = true;
            EXPECT_EQ(c.enterKey(Text::fromBytes("7"), message, caret, 0).bytes(), "7")
                << message.toUtf8() << " caret " << caret;
            EXPECT_EQ(c.enterKey(Text::fromBytes("00"), message, caret, 2).bytes(), "00")
                << message.toUtf8() << " caret " << caret;
        }
    }
}

TEST(Calculator, EntryFlagAfterEqualsStartsANewNumber) {
    Display d;
    d.keys({"2", "+", "3", "="});
    EXPECT_EQ(d.evaluations, 1);
    EXPECT_FALSE(d.calc.entry);
    d.press("7");
    EXPECT_EQ(d.text.toUtf8(), "7");
    EXPECT_TRUE(d.calc.entry);
}

TEST(Calculator, DivisionByZeroIsNotTaxed) {
    Display d;
    d.keys({"5", "/", "0", "="});
    EXPECT_EQ(d.evaluations, 0);
    EXPECT_EQ(ToNumber(d.text), 0); // never reads as a taxable number
    d.press("=");                   // still not a number
    EXPECT_EQ(d.text, divideByZeroText());
}

TEST(Calculator, CaretFollowsTheKeystrokeCounter) {
    Display d;
    d.keys({"1", "2", "3", "4", "5"});
    EXPECT_EQ(d.caret, 5);
    d.caret = 2; // the user moves the caret after "12"
    d.press("9");
    EXPECT_EQ(d.text.toUtf8(), "129345");
    EXPECT_EQ(d.calc.keystrokes, 7);
    EXPECT_EQ(d.caret, 6);

    Display e;
    e.keys({"1", "00"});
    EXPECT_EQ(e.calc.keystrokes, 4);
    e.press("C");
    EXPECT_EQ(e.calc.keystrokes, 1);
    EXPECT_EQ(e.text.toUtf8(), "");
}

TEST(Calculator, SelectionIsReplacedAndTailLimited) {
    CalculatorState c;
    c.entry = true;
    EXPECT_EQ(c.enterKey(Text::fromBytes("7"), Text::fromBytes("12345"), 1, 3).bytes(), "175");
    const std::string tail(30, '9');
    EXPECT_EQ(c.enterKey(Text::fromBytes("1"), Text::fromBytes(tail), 0, 0).bytes(),
              "1" + std::string(20, '9'));
    EXPECT_EQ(c.enterKey(Text::fromBytes("1"), Text::fromBytes("22"), 99, 99).bytes(), "221");
    EXPECT_EQ(c.enterKey(Text::fromBytes("1"), Text::fromBytes("22"), -1, -1).bytes(), "221");
}

TEST(Calculator, TheLastOperatorCounts) {
    CalculatorState c;
    c.pressOperator(Operator::Add, Text::fromBytes("3"));
    c.pressOperator(Operator::Percent, Text::fromBytes(""));
    EXPECT_EQ(c.pending, Operator::Percent);
    EXPECT_EQ(c.accumulator, 3); // an empty display keeps the accumulator
    c.pressOperator(Operator::Subtract, engine::incomePlaceholder());
    EXPECT_EQ(c.accumulator, 0); // the placeholder is not a number
}

TEST(Calculator, DeleteTakesWholeCharacters) {
    const struct {
        Text display;
        const char* after;
    } cases[] = {
        {Text::fromBytes("12.5"), "12."},
        {tooLargeText(), "数值过"},
        {Text::fromUtf8("1除"), "1"},
        {Text::fromBytes("7"), ""},
        {Text{}, ""},
        {engine::incomePlaceholder(), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CalculatorState::deleteLast(c.display).toUtf8(), c.after) << c.display.toUtf8();
}

} // namespace
} // namespace iit::mainwindow
