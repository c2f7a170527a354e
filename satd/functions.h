// The sixteen SAT functions as the hub API names them: one row each with its form
// fields, who may call it and how it reaches the library.
#pragma once

#include <string>
#include <vector>

#include "form.h"

namespace satd {

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

// The library's own answer when a call could not reach the device in time.
std::string busy_answer(const Function& f, int session);

} // namespace satd
