// Fixed configuration of the server: everything is compiled in, except the
// port, the listening address and the working directory, which the command
// line may change. The protocol's own facts come from its public header,
// which the clients use too.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "ifcsim/ifcsim_protocol.h"

// Where the server listens unless told otherwise (--port, --bind): every
// local IPv4 address (host byte order).
inline constexpr std::uint16_t kServerPort = IFC_PORT;
inline constexpr std::uint32_t kServerAddress = INADDR_ANY;
inline constexpr int kListenBacklog = 5;

// Request header: a 3-byte verb and a 20-byte command field.
inline constexpr int kHeaderSize = IFC_HEADER_SIZE;
inline constexpr int kVerbSize = IFC_VERB_SIZE;
inline constexpr int kCommandFieldSize = IFC_NAME_MAX;

// A GET's reply begins with "LEN" and its length in ten characters.
inline constexpr int kLengthHeaderSize = IFC_LENGTH_HEADER_SIZE;

// Framing: blocks of at most this size, each released by "NEXT".
inline constexpr int kBlockSize = IFC_BLOCK_SIZE;
// Largest PUT payload; the connection buffer keeps one byte more behind it.
inline constexpr int kMaxPayload = IFC_MAX_PAYLOAD;

// Every single wait for incoming bytes, and the deadline of one transfer.
inline constexpr int kWaitSeconds = IFC_WAIT_SECONDS;
inline constexpr int kTransferLimitSeconds = IFC_TRANSFER_SECONDS;

// Files in the working directory.
inline constexpr char kIfcSetFile[] = IFC_SET_FILE;
inline constexpr char kValveSetFile[] = IFC_VALVE_FILE;
inline constexpr char kCgiLogFile[] = IFC_LOG_FILE;
