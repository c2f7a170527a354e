// The sixteen SAT functions as the hub API names them: one row each with its form
// fields, who may call it and how it reaches the library.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace satd {

using Fields = std::map<std::string, std::string>;

// The shape a field's value must have before satd carries it to the device.
enum class Shape {
    Digits14,  // CNPJ
    Digits28,  // two CNPJs
    Session,   // 1-6 digits
    Type,      // certificate type 1-3
    State,     // state code, 1-2 digits
    Option,    // 1 or 2
    Document,  // XML or PEM text: UTF-8, no '|', no control bytes but tab and line ends
    AccessKey, // "CFe" and 44 digits
    Base64,    // base64 text
    Secret,    // activation or emergency code: 6-32 printable characters, no '|'
};

struct Field {
    const char* name;
    Shape shape;
    bool optional = false; // codigo_emergencia: only with opcao 2
};

struct Function {
    const char* name;   // "enviardadosvenda", the last path element
    const char* funcao; // "EnviarDadosVenda"
    const char* family; // "06": the first two digits of its result codes
    bool checkout;      // the checkouts list may call it (the admin list may call all)
    bool fiscal;        // a sale or cancellation: always journaled
    std::vector<Field> fields;
    // Calls the library with `session` and `code` and copies its answer.
    std::string (*call)(int session, const std::string& code, const Fields& f);
};

const std::vector<Function>& functions();
const Function* find_function(const std::string& name);

bool valid(Shape shape, const std::string& value);
bool valid_utf8(const std::string& text);

// The library's own answer when a call could not reach the device in time.
std::string busy_answer(const Function& f, int session);

} // namespace satd
