// The empty field that an eleven-field cancellation answer gains after its tenth '|'.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sat {
bool insert_empty_field(char* text, std::size_t capacity) noexcept;
}

namespace {

struct Case {
    const char* in;
    const char* out;
};

TEST(FieldInsertion, OnlyElevenFieldAnswersGainAField) {
    const Case cases[] = {
        {"a|b|c|d|e|f|g|h|i|j|k", "a|b|c|d|e|f|g|h|i|j||k"},
        // The eleventh field may be empty or long; it moves on unchanged.
        {"a|b|c|d|e|f|g|h|i|j|", "a|b|c|d|e|f|g|h|i|j||"},
        {"||||||||||", "|||||||||||"},
        // Twelve fields, fewer than eleven, no field separator at all: unchanged.
        {"a|b|c|d|e|f|g|h|i|j||k", "a|b|c|d|e|f|g|h|i|j||k"},
        {"000042|07001|0000|Codigo de ativacao invalido||",
         "000042|07001|0000|Codigo de ativacao invalido||"},
        {"a|b|c|d|e|f|g|h|i|j", "a|b|c|d|e|f|g|h|i|j"},
        {"", ""},
        {"sem separador", "sem separador"},
    };
    for (const Case& c : cases) {
        std::vector<char> buf(64, '\0');
        std::strcpy(buf.data(), c.in);
        const bool grew = sat::insert_empty_field(buf.data(), buf.size());
        EXPECT_STREQ(buf.data(), c.out) << "input: " << c.in;
        EXPECT_EQ(grew, std::strcmp(c.in, c.out) != 0) << "input: " << c.in;
    }
}

// A remainder far beyond any fixed scratch size is carried over whole.
TEST(FieldInsertion, LongLastFieldIsKeptWhole) {
    const std::string head = "000042|07000|0000|Cupom cancelado|||";
    const std::string tail = "|20261206120000|CFe123|10.00|" + std::string(100000, 'Q');
    std::string text = head + std::string(20000, 'B') + tail; // ten '|' in all
    std::vector<char> buf(text.size() + 2, 'Z');
    std::memcpy(buf.data(), text.c_str(), text.size() + 1);
    ASSERT_TRUE(sat::insert_empty_field(buf.data(), buf.size()));
    const std::string expected = head + std::string(20000, 'B') + "|20261206120000|CFe123|10.00||" +
                                 std::string(100000, 'Q');
    EXPECT_EQ(std::string(buf.data()), expected);
}

// The grown text needs one byte more: without room the answer is left as it is.
TEST(FieldInsertion, AnswerThatWouldNotFitIsUnchanged) {
    const std::string text = "a|b|c|d|e|f|g|h|i|j|k";
    std::vector<char> exact(text.size() + 1);
    std::memcpy(exact.data(), text.c_str(), text.size() + 1);
    EXPECT_FALSE(sat::insert_empty_field(exact.data(), exact.size()));
    EXPECT_EQ(std::string(exact.data()), text);

    std::vector<char> room(text.size() + 2);
    std::memcpy(room.data(), text.c_str(), text.size() + 1);
    EXPECT_TRUE(sat::insert_empty_field(room.data(), room.size()));
    EXPECT_EQ(std::string(room.data(), text.size() + 1), "a|b|c|d|e|f|g|h|i|j||k");

    // No terminating NUL within the capacity: not touched.
    std::vector<char> unterminated(text.begin(), text.end());
    EXPECT_FALSE(sat::insert_empty_field(unterminated.data(), unterminated.size()));
}

} // namespace
