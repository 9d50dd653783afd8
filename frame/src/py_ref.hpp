// Owning handle for one strong reference to a Python object. Every reference
// the frame takes is held by one of these, so every exit path releases it.
#pragma once

#include <Python.h>

#include <utility>

namespace ak::frame {

class PyRef {
 public:
  PyRef() noexcept = default;
  // Takes over a new reference (may be null).
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Adds a reference to a borrowed object.
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

// Thrown inside the frame when a Python exception is already set; the call
// boundary returns null so the interpreter raises it.
struct PythonError {};

[[noreturn]] inline void throw_python_error() { throw PythonError{}; }

// Returns `object` or throws PythonError when it is null (exception set).
inline PyObject* check(PyObject* object) {
  if (object == nullptr) throw_python_error();
  return object;
}

}  // namespace ak::frame
