// What the programs on top of the library (the command line, the viewer
// server, the benchmarks) need of the operating system, reached through the
// library's OS layer so that they call no OS interface themselves.
#ifndef STRATA_SLIDE_SYSTEM_H_
#define STRATA_SLIDE_SYSTEM_H_

#include "strata/platform/directory.h"
#include "strata/platform/dynamic_library.h"
#include "strata/platform/file_io.h"
#include "strata/platform/listen_socket.h"
#include "strata/platform/parallel.h"
#include "strata/platform/stop_signal.h"
#include "strata/platform/terminal.h"

namespace strata::system {

// Files and folders.
using platform::CreateDirectory;
using platform::CreateUniqueFile;
using platform::DirectoryEntries;
using platform::FileExists;
using platform::FileSize;
using platform::FinishStream;
using platform::IsDirectory;
using platform::IsReadOnlyFile;
using platform::IsRegularFile;
using platform::IsSameFile;
using platform::OpenStream;
using platform::OwnedStream;
// Reads at an offset without moving the stream (pread where there is one).
using platform::ReadAt;
using platform::RemoveFile;
using platform::RenameFile;
using platform::ResolvedPath;
using platform::SyncFolderOf;
using platform::SyncStream;
// The folder of the module that holds an address (where a program finds
// the files installed beside it).
using platform::DirectoryOfAddress;
using platform::EnvironmentValue;
using platform::SetEnvironmentValue;
using platform::UnsetEnvironmentValue;
using platform::ToLocalTime;
using platform::ToUniversalTime;
// Threads, terminals and stopping.
using platform::HoldStopSignals;
using platform::IsTerminal;
using platform::ParallelFor;
using platform::ProcessorCount;
using platform::RaiseStopSignal;
using platform::RemoveFileOnInterrupt;
using platform::WaitForStopSignal;
// Listening sockets of servers.
using platform::ListenFailure;
using platform::PrepareListeningSocket;

}  // namespace strata::system

#endif  // STRATA_SLIDE_SYSTEM_H_
