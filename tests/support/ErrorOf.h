#pragma once

#include "data/Errors.h"

#include <optional>
#include <string>

namespace velmora::test {

// The cause of the DatabaseError a call raises, or nothing when it raises none.
template <typename F> std::optional<data::ErrorCause> causeOf(F&& call)
{
    try {
        call();
    } catch (const data::DatabaseError& e) {
        return e.cause();
    }
    return std::nullopt;
}

template <typename F> std::optional<data::ErrorKind> kindOf(F&& call)
{
    const std::optional<data::ErrorCause> cause = causeOf(call);
    return cause ? std::optional<data::ErrorKind>(cause->kind) : std::nullopt;
}

// The text of the DatabaseError a call raises, "" when it raises none.
template <typename F> std::string errorOf(F&& call)
{
    try {
        call();
    } catch (const data::DatabaseError& e) {
        return e.what();
    }
    return {};
}

} // namespace velmora::test
