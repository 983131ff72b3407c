#pragma once

#include "ipc/PipeEndpoint.h"

#include <memory>
#include <string>

namespace lyrlink
{

/** A Unix-domain stream socket in the abstract namespace. scope is put before every name; the
    program uses none, tests use their own so that they never meet a running manager. */
std::unique_ptr<PipeEndpoint> createLinuxPipeEndpoint (const std::string& scope = {});

} // namespace lyrlink
