// Every message the libraries print goes through report(): onto standard error, or, while
// the calling thread has a sink, into that string instead, so that a caller that is not
// a command-line program (the Python module) can turn a failure's message into its own
// error. The two failure messages that several modules print are here too, so that their
// text is the same wherever a failure is found.
//
//   report(format, ...)         printf's format and arguments, onto standard error or
//                               appended to this thread's sink (when the sink cannot
//                               grow, the message is dropped)
//   report_sink_set(sink)       this thread's messages go into *sink from now on, or to
//                               standard error again for nullptr; returns the sink set
//                               before
//   report_alloc_failure()      "Error: Memory allocation error\n"
//   report_write_failure(name)  "Error: Could not write to NAME\n"
#pragma once

#include <string>

#if defined(__GNUC__) || defined(__clang__)
#define VARLOX_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define VARLOX_PRINTF_LIKE
#endif

// A thread-local variable of the libraries (this thread's sink, its transform's stop
// check). Initial-exec on ELF systems: reached without a call into the dynamic loader,
// so the programs need no more of it than before, even when the libraries are compiled
// position-independent for the Python module (which then takes these few bytes from the
// static TLS the loader keeps for such modules).
#if defined(__ELF__)
#define VARLOX_THREAD_LOCAL thread_local __attribute__((tls_model("initial-exec")))
#else
#define VARLOX_THREAD_LOCAL thread_local
#endif

void report(const char* format, ...) VARLOX_PRINTF_LIKE;
std::string* report_sink_set(std::string* sink);
void report_alloc_failure();
void report_write_failure(const std::string& name);
