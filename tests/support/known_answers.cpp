#include "support/known_answers.h"

#include <fstream>
#include <map>
#include <sstream>

#include "support/test_support.h"

namespace winqor::test {
namespace {

// The key=value words of a line (the quoted password is skipped: its bytes are in utf16le).
std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream words(
        line.substr(line.rfind('\'') == std::string::npos ? 0 : line.rfind('\'') + 1));
    for (std::string word; words >> word;) {
        auto eq = word.find('=');
        if (eq != std::string::npos) fields[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return fields;
}

std::u16string FromUtf16Le(const std::vector<uint8_t>& bytes) {
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    }
    return text;
}

}  // namespace

KnownAnswers LoadKnownAnswers() {
    KnownAnswers answers;
    std::ifstream in(VectorsDir() / "known-answers.txt");
    for (std::string line; std::getline(in, line);) {
        auto fields = Fields(line);
        if (line.rfind("password ", 0) == 0) {
            answers.passwords.push_back(
                {FromUtf16Le(FromHex(fields["utf16le"])), FromHex(fields["narrowed"]),
                 FromHex(fields["digest"]),
                 fields["check"] == "none" ? std::vector<uint8_t>{} : FromHex(fields["check"])});
        } else if (line.rfind("key ", 0) == 0) {
            answers.keys.push_back(
                {FromHex(fields["seed"]), FromHex(fields["digest"]), FromHex(fields["material"])});
        } else if (line.rfind("decrypt ", 0) == 0) {
            answers.decryptions.push_back(
                {FromHex(fields["material"]), FromHex(fields["stored"]), FromHex(fields["plain"])});
        }
    }
    return answers;
}

}  // namespace winqor::test
