#include "call.hpp"

#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "module.hpp"
#include "numpy_api.hpp"

namespace ak::frame {
namespace {

// Binding failures. Messages are built only here, on failure, and names a
// caller gave (keywords) go in as the str objects themselves: a keyword may
// hold a NUL or a lone surrogate, which no C string or UTF-8 text can carry.

void too_many_positional(const Function& f, std::size_t given) {
  const char* verb = given == 1 ? "was" : "were";
  if (f.required() == f.arity()) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zu %s given", f.name, f.arity(),
                 given, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zu %s given", f.name,
                 f.required(), f.arity(), given, verb);
  }
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string name_list(const std::vector<const char*>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) text += names.size() == 2 ? " and " : i + 1 == names.size() ? ", and " : ", ";
    text += '\'';
    text += names[i];
    text += '\'';
  }
  return text;
}

void missing_required(const Function& f, PyObject* const* slots) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < f.required(); ++i) {
    if (slots[i] == nullptr) missing.push_back(f.params[i].name);
  }
  PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional %s: %s", f.name, missing.size(),
               missing.size() == 1 ? "argument" : "arguments", name_list(missing).c_str());
}

// Index of the parameter named `keyword`, or arity() when none is.
std::size_t parameter_named(const Function& f, PyObject* keyword) noexcept {
  for (std::size_t i = 0; i < f.arity(); ++i) {
    const char* name = f.params[i].name;
    if (PyUnicode_EqualToUTF8AndSize(keyword, name, static_cast<Py_ssize_t>(std::strlen(name)))) return i;
  }
  return f.arity();
}

bool bind_arguments(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots) {
  const auto given = static_cast<std::size_t>(nargs);
  if (given > f.arity()) {
    too_many_positional(f, given);
    return false;
  }
  for (std::size_t i = 0; i < given; ++i) slots[i] = args[i];

  const Py_ssize_t n_keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < n_keywords; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    const std::size_t match = parameter_named(f, keyword);
    if (match == f.arity()) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", f.name, keyword);
      return false;
    }
    if (slots[match] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%U'", f.name, keyword);
      return false;
    }
    slots[match] = args[nargs + k];
  }

  for (std::size_t i = 0; i < f.required(); ++i) {
    if (slots[i] == nullptr) {
      missing_required(f, slots);
      return false;
    }
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

void raise_value_error(const std::string& message) {
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (text) PyErr_SetObject(PyExc_ValueError, text.get());
}

// Sets the Python exception for the C++ exception being handled.
void raise_current_exception() noexcept {
  try {
    throw;
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) raise_panic(kLostPythonError);
  } catch (const Panic& panic) {
    raise_panic(panic.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {
    PyErr_NoMemory();
  } catch (const std::exception& other) {
    raise_panic(other.what());
  } catch (...) {
    raise_panic(kInternalFailure);
  }
}

}  // namespace

bool detail::bind(const Function& function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  PyObject** slots) noexcept {
  try {
    return bind_arguments(function, args, nargs, kwnames, slots);
  } catch (...) {
    raise_current_exception();
    return false;
  }
}

PyObject* detail::run_body(const Function& function, PyObject* const* slots) noexcept {
  try {
    Args args(function, slots);
    Outcome outcome = function.body(args);
    if (!outcome.ok()) {
      raise_value_error(outcome.error());
      return nullptr;
    }
    return outcome.value().release();
  } catch (...) {
    raise_current_exception();
    return nullptr;
  }
}

void Args::check_sequence_before_raising() const {
  PyRef later = PyRef::steal(PyErr_GetRaisedException());
  sequence_->check_items(0);  // an item error replaces the later one
  PyErr_SetRaisedException(later.release());
}

Sealed Args::seal() {
  if (converted_ != (1u << function_.arity()) - 1) panic(kSealedTooEarly);
  if (!numpy_loaded()) {
    // The import runs Python code; no array was converted yet (that would
    // have loaded it), so only the sequence needs pinning.
    recursion_.enter();
    if (sequence_) sequence_->pin();
    try {
      require_numpy();
    } catch (const Panic&) {
      if (sequence_) sequence_->check_items(0);
      throw;
    }
  } else if (code_may_have_run_) {
    for (std::size_t k = 0; k < n_arrays_; ++k) {
      guarded(arrays_[k].index, [&] { check_array(slots_[arrays_[k].index], arrays_[k].type); });
    }
  }
  sealed_ = true;
  return Sealed{};
}

}  // namespace ak::frame
