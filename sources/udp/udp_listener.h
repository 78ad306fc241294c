#pragma once
// The logger source's worker: receives the loggers' datagrams, keeps the last one on disk and hands
// each to the parser.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/net.h"

// What the listener reports through NotifyUdpStatus.
enum UdpListenerState { UdpStopped = 0, UdpListening = 1, UdpBindError = 2 };

extern std::atomic<bool>& udpRunning;
extern SocketSlot udpSocket;

// Datagrams the worker has taken off its socket so far, whether it parsed them, dropped them in
// test mode or passed over an empty one. Lets a peer know that what it sent has been dealt with.
extern std::atomic<std::uint64_t> udpDatagramsTaken;

// The file beside settings.ini that holds the bytes of the last datagram accepted.
extern const wchar_t* const kUdpLastDatagramFile;

// The address the listener binds for an address text, and so the one its status names: the text
// when it is a dotted quad (four decimal octets, no leading zeros), else 0.0.0.0, every
// interface. Host names are never resolved.
std::wstring UdpListenAddress(const std::wstring& addressText);

// Starts the listener on UdpListenAddress(addressText) and the port (outside 1..65535:
// kDefaultUdpPort). Does nothing while it runs.
void StartUdpListener(const std::wstring& addressText, int port);
// Stops the listener and waits for its thread; returns at once when nothing runs. Never call it
// from the worker.
void StopUdpListener();
