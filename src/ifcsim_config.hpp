// Fixed configuration of the server: everything is compiled in, except the
// port, the listening address and the working directory, which the command
// line may change.
#pragma once

#include <netinet/in.h>

#include <cstdint>

// Where the server listens unless told otherwise (--port, --bind): every
// local IPv4 address (host byte order).
inline constexpr std::uint16_t kServerPort = 9000;
inline constexpr std::uint32_t kServerAddress = INADDR_ANY;
inline constexpr int kListenBacklog = 5;

// Request header: a 3-byte verb and a 20-byte command field.
inline constexpr int kHeaderSize = 23;
inline constexpr int kVerbSize = 3;
inline constexpr int kCommandFieldSize = 20;

// Framing: blocks of at most this size, each released by "NEXT".
inline constexpr int kBlockSize = 1024;
// Largest PUT payload; the connection buffer keeps one byte more behind it.
inline constexpr int kMaxPayload = 256000;

// Every single wait for incoming bytes, and the deadline of one transfer.
inline constexpr int kWaitSeconds = 5;
inline constexpr int kTransferLimitSeconds = 10;

// Files in the working directory.
inline constexpr char kIfcSetFile[] = "ifc_set.set";
inline constexpr char kValveSetFile[] = "valve_fp.set";
inline constexpr char kCgiLogFile[] = "cgi.log";
