#pragma once

#include <utility>

namespace vestrel {

// A replaceable service: the program runs on the fallback, tests put in their own
// implementation. Used from the user-interface thread only.
template <class Interface> class Seam {
public:
    explicit Seam(Interface& fallback) : fallback_(fallback) {}
    Seam(const Seam&) = delete;
    Seam& operator=(const Seam&) = delete;

    Interface& get() const { return current_ ? *current_ : fallback_; }
    // Installs impl (nullptr goes back to the fallback) and returns what was installed before.
    Interface* set(Interface* impl) { return std::exchange(current_, impl); }

private:
    Interface& fallback_;
    Interface* current_ = nullptr;
};

// Installs an implementation for the lifetime of the object, then restores the previous one.
template <class Interface> class ScopedSeam {
public:
    ScopedSeam(Seam<Interface>& seam, Interface* impl) : seam_(seam), previous_(seam.set(impl)) {}
    ~ScopedSeam() { seam_.set(previous_); }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;

private:
    Seam<Interface>& seam_;
    Interface* previous_;
};

} // namespace vestrel
