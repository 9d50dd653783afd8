#include "call.hpp"

#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "module.hpp"

namespace ak::frame {
namespace {

[[noreturn]] void type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  throw PythonError{};
}

std::string quoted(const char* name) { return std::string("'") + name + "'"; }

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string name_list(const std::vector<const char*>& names) {
  if (names.size() == 1) return quoted(names[0]);
  if (names.size() == 2) return quoted(names[0]) + " and " + quoted(names[1]);
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i + 1 == names.size()) text += ", and ";
    else if (i != 0) text += ", ";
    text += quoted(names[i]);
  }
  return text;
}

bool bind_or_throw(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots) {
  const std::string function = std::string(sig.function) + "()";
  const auto given = static_cast<std::size_t>(nargs);
  if (given > sig.n_params) {
    const std::string verb = given == 1 ? " was given" : " were given";
    if (sig.n_required == sig.n_params) {
      type_error(function + " takes " + std::to_string(sig.n_params) + " positional arguments but " +
                 std::to_string(given) + verb);
    }
    type_error(function + " takes from " + std::to_string(sig.n_required) + " to " +
               std::to_string(sig.n_params) + " positional arguments but " + std::to_string(given) +
               verb);
  }
  for (std::size_t i = 0; i < given; ++i) slots[i] = args[i];

  const Py_ssize_t n_keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < n_keywords; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    std::size_t match = sig.n_params;
    for (std::size_t i = 0; i < sig.n_params; ++i) {
      const char* param = sig.params[i];
      if (PyUnicode_EqualToUTF8AndSize(keyword, param, static_cast<Py_ssize_t>(std::strlen(param)))) {
        match = i;
        break;
      }
    }
    Py_ssize_t size = 0;
    if (match == sig.n_params) {
      const char* text = PyUnicode_AsUTF8AndSize(keyword, &size);
      if (text == nullptr) throw PythonError{};
      type_error(function + " got an unexpected keyword argument '" + std::string(text, size) + "'");
    }
    if (slots[match] != nullptr) {
      type_error(function + " got multiple values for argument '" + sig.params[match] + "'");
    }
    slots[match] = args[nargs + k];
  }

  std::vector<const char*> missing;
  for (std::size_t i = 0; i < sig.n_required; ++i) {
    if (slots[i] == nullptr) missing.push_back(sig.params[i]);
  }
  if (!missing.empty()) {
    type_error(function + " missing " + std::to_string(missing.size()) + " required positional " +
               (missing.size() == 1 ? "argument: " : "arguments: ") + name_list(missing));
  }
  return true;
}

void raise_panic(const char* message) {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // its creation failed; that exception stands
  PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message, std::strlen(message), "replace"));
  if (!text) return;
  PyErr_SetObject(type, text.get());
}

}  // namespace

bool detail::bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames, PyObject** slots) {
  try {
    return bind_or_throw(signature, args, nargs, kwnames, slots);
  } catch (...) {
    raise_current_exception();
    return false;
  }
}

void detail::raise_current_exception() {
  try {
    throw;
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) raise_panic("a Python exception was lost");
  } catch (const ValueErrorRaised& failure) {
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(failure.message.data(),
                                                   static_cast<Py_ssize_t>(failure.message.size()),
                                                   "replace"));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
  } catch (const Panic& panic) {
    raise_panic(panic.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {
    PyErr_NoMemory();
  } catch (const std::exception& other) {
    raise_panic(other.what());
  } catch (...) {
    raise_panic("internal failure");
  }
}

void Args::prefix_type_error(const char* name) {
  PyRef raised = PyRef::steal(PyErr_GetRaisedException());
  if (!raised) return;
  if (Py_TYPE(raised.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(raised.release());
    return;
  }
  PyRef text = PyRef::steal(PyObject_Str(raised.get()));
  if (!text) return;
  PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!message) return;
  PyRef replacement = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!replacement) return;
  PyRef cause = PyRef::steal(PyException_GetCause(raised.get()));
  if (cause) PyException_SetCause(replacement.get(), cause.release());
  PyErr_SetRaisedException(replacement.release());
}

}  // namespace ak::frame
