#pragma once

#include "ipc/PipeEndpoint.h"

#include <memory>
#include <string>

namespace lyrlink
{

/** A Windows named pipe "\\.\pipe\<scope><name>" with one instance, for the local clients of the
    manager's own user only. scope is put before every name; the program uses none, tests use
    their own so that they never meet a running manager. */
std::unique_ptr<PipeEndpoint> createWindowsPipeEndpoint (const std::string& scope = {});

} // namespace lyrlink
