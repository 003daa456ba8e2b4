#pragma once

#include <QEventLoop>
#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <type_traits>

namespace quorral::async {

namespace detail {

template <typename T>
QCoro::Task<> runInto(QCoro::Task<T> task, std::optional<T> &result, std::exception_ptr &error, bool &done, QEventLoop &loop)
{
    try {
        result.emplace(co_await task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

inline QCoro::Task<> runInto(QCoro::Task<> task, std::exception_ptr &error, bool &done, QEventLoop &loop)
{
    try {
        co_await task;
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

} // namespace detail

// Runs a coroutine to its end in a nested event loop and returns its result, rethrowing
// what it threw. (QCoro's own waitFor never returns when the coroutine throws.)
template <typename T>
T waitFor(QCoro::Task<T> task)
{
    QEventLoop loop;
    std::exception_ptr error;
    bool done = false;
    if constexpr (std::is_void_v<T>) {
        detail::runInto(std::move(task), error, done, loop);
        if (!done)
            loop.exec();
        if (error)
            std::rethrow_exception(error);
    } else {
        std::optional<T> result;
        detail::runInto(std::move(task), result, error, done, loop);
        if (!done)
            loop.exec();
        if (error)
            std::rethrow_exception(error);
        return std::move(*result);
    }
}

} // namespace quorral::async
