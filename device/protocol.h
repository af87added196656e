#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QtGlobal>

// Every number the unit's protocol is made of stands here, once: frame bytes, command codes,
// group numbers and the waits. Nothing else in the program spells them out.
namespace Protocol {

// Frame bytes.
constexpr quint8 Stx = 0x02;
constexpr quint8 Ack = 0x06;
constexpr quint8 Nak = 0x15;            // what the unit sends when it refuses a request
constexpr quint8 ResultOk = 0x00;       // first data byte of a successful write or service answer
constexpr int MaxFrameData = 255;       // LEN is one byte

// Channels.
constexpr int SerialBaudRate = 9600;
constexpr quint16 TcpPort = 20107;
constexpr int ConnectWaitMs = 1000;

// Waits, in milliseconds.
constexpr int AckWaitMs = 1000;         // acknowledgement of every request but the GPRS write
constexpr int InterByteWaitMs = 1000;   // each byte after the first of a response
constexpr int ResponseWaitMs = 1000;    // first response byte of reads and writes
constexpr int GprsAckWaitMs = 30000;    // the unit stores GPRS settings before acknowledging
constexpr int LongResponseWaitMs = 30000;  // GPRS read, status texts, tests
constexpr int ResetResponseWaitMs = 180000;

// Bounds on a whole answer, from the waits above: a unit that keeps every wait but drips its
// bytes cannot hold the line longer than the slowest sound answer would.
constexpr int MaxResponseFrameBytes = 1 + 1 + MaxFrameData + 1;    // STX, LEN, data, CHK
// One exchange: the acknowledgement, the first response byte, then every later byte of the
// longest frame at the inter-byte wait.
constexpr int exchangeBoundMs(int ackWaitMs, int firstResponseWaitMs)
{
    return ackWaitMs + firstResponseWaitMs + (MaxResponseFrameBytes - 1) * InterByteWaitMs;
}
// One command of the unit, status dialogues with all their parts included: no longer than the
// slowest single answer of the protocol, the reset's (438 s).
constexpr int CommandBoundMs = exchangeBoundMs(AckWaitMs, ResetResponseWaitMs);

// Command codes.
constexpr quint8 CmdReadGroup = 0x07;
constexpr quint8 CmdWriteTimeouts = 0x60;
constexpr quint8 CmdWriteToken = 0x61;
constexpr quint8 CmdWriteServerAddress = 0x62;
constexpr quint8 CmdWriteGprsSettings = 0x63;
constexpr quint8 CmdWriteCashDeskId = 0x64;
constexpr quint8 CmdWriteEthernetSettings = 0x65;
constexpr quint8 CmdWriteChannelPriority = 0x67;
constexpr quint8 CmdWriteMac = 0x69;
constexpr quint8 CmdReset = 0x26;
constexpr quint8 CmdUnitStatus = 0x55;
constexpr quint8 CmdModemStatus = 0x56;
constexpr quint8 CmdContinue = 0x05;
constexpr quint8 CmdTest = 0x58;
constexpr quint8 TestSignalLevel = 0x01;
constexpr quint8 TestServerResponse = 0x02;

// Data areas CmdReset erases.
constexpr quint8 ResetFull = 0;
constexpr quint8 ResetJournal = 1;
constexpr quint8 ResetZReports = 2;
constexpr quint8 ResetSettings = 3;
constexpr quint8 ResetFirstCommand = 4;     // the first command of the unit's buffer
constexpr quint8 ResetAllCommands = 5;      // the whole command buffer

// Parameter groups read with CmdReadGroup.
constexpr quint8 GroupCashDeskState = 4;
constexpr quint8 GroupTimeouts = 6;
constexpr quint8 GroupServerAddress = 7;
constexpr quint8 GroupGprsSettings = 8;
constexpr quint8 GroupEthernetSettings = 9;
constexpr quint8 GroupChannelPriority = 10;

// Value limits.
constexpr int MaxPriority = 3;          // 0 GPRS, 1 Ethernet, 2 GPRS+Ethernet, 3 Ethernet+GPRS
constexpr int MaxResetKind = ResetAllCommands;
constexpr int MaxUrlBytes = 128;        // on write; a read may carry up to 129
constexpr int MaxGprsStringBytes = 32;  // APN, login, password
constexpr int MaxBalanceCodeBytes = 8;
constexpr int MaxStatusParts = 256;     // a unit that never ends its status text is cut off here

} // namespace Protocol

#endif // PROTOCOL_H
