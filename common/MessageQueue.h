// The wire protocol shared by the server and the client: the control tokens,
// the framing of one message ("<" text ">") and the receive queue that splits
// the TCP byte stream back into messages.
//
// Both ends use this one implementation; only the prefix of their console
// lines differs ("SERVER MSG: " or "CLIENT MSG: ").
#ifndef TAPEDIAG_MESSAGEQUEUE_H
#define TAPEDIAG_MESSAGEQUEUE_H

#include <deque>
#include <memory>
#include <string>

#include "VString.h"

// Control tokens. Everything else on the wire is data.
const char* const MSG_EMPTY = "MSG_EMPTY";
const char* const MSG_PASSWORD_VALID = "MSG_PASSWORD_VALID";
const char* const MSG_PASSWORD_INVALID = "MSG_PASSWORD_INVALID";
const char* const NEW_LINE = "NEW_LINE";
const char* const MSG_MOVE_WRITE_PROGRESS_BAR = "MSG_MOVE_WRITE_PROGRESS_BAR";
const char* const MSG_MOVE_READ_PROGRESS_BAR = "MSG_MOVE_READ_PROGRESS_BAR";
const char* const MSG_SUCCESSFUL_COMPLETION = "MSG_SUCCESSFUL_COMPLETION";
const char* const MSG_UNSUCCESSFUL_COMPLETION = "MSG_UNSUCCESSFUL_COMPLETION";
const char* const MSG_SUCCESSFUL_FIRMWARE_UPGRADE = "MSG_SUCCESSFUL_FIRMWARE_UPGRADE";
const char* const MSG_BAD_PARAMETERS = "MSG_BAD_PARAMETERS";
const char* const MSG_GET_AVAILABLE_DRIVES = "MSG_GET_AVAILABLE_DRIVES";
const char* const MSG_ALL_AVAILABLE_DRIVES_SENT = "MSG_ALL_AVAILABLE_DRIVES_SENT";
const char* const MSG_GET_FIRMWARE_VERSION = "MSG_GET_FIRMWARE_VERSION";
const char* const MSG_DISCONNECT = "MSG_DISCONNECT";
const char* const MSG_SHUTDOWN = "MSG_SHUTDOWN";

// What a client asks of the server. Only the start of a request decides
// (its command word, in any letter case), never the text of an argument: a
// file named shutdown.txt or a serial number holding a token's name is data.
enum ClientRequest {
    REQUEST_SHUTDOWN,           // the command word shutdown or MSG_SHUTDOWN: stops the server
    REQUEST_DISCONNECT,         // the command word MSG_DISCONNECT
    REQUEST_DRIVE_LIST,         // the command word MSG_GET_AVAILABLE_DRIVES
    REQUEST_DRIVE_DESCRIPTION,  // MSG_GET_FIRMWARE_VERSION at the very start, a separator, the index
    REQUEST_COMMAND_LINE        // anything else: a diagnostic command line
};
ClientRequest ClassifyRequest(const char* message);

// The default TCP port of the server.
const char* const DEFAULT_PORT_TEXT = "8800";

// The bytes of one message on the wire: "<" text ">". The text is taken in
// by the CVString rules (cut at its first control character, at most 4094
// characters); an empty text travels as MSG_EMPTY, because an empty frame
// would not be told apart from no message at all.
std::string FrameMessage(const char* text);

// A TCP port as both programs read it: all digits, 1 to 65535. False for
// anything else (port 0 would make the server listen where nobody looks).
bool ParsePort(const char* text, int& port);

// Waits without a bound: the default of ReceiveFrom.
const int NO_TIMEOUT = -1;

enum SendResult {
    SEND_DONE,
    SEND_FAILED,    // the peer has gone or the socket reported an error
    SEND_TIMED_OUT  // the wait budget was spent before the frame went out
};

// Sends the framed text on a connected socket. The whole frame goes out:
// short sends are continued and interrupted ones retried, and a peer that
// has gone fails the send, never raises a broken-pipe signal. With a
// waitBudgetMs (not null), the time spent waiting for the socket to take the
// frame is taken off it, and the send gives up once it is spent: a peer that
// reads a byte now and then uses it up as surely as one that reads nothing.
SendResult SendFrame(int socket, const char* text, long* waitBudgetMs);
// SendFrame without a bound; true when the whole frame went out.
bool SendFramedMessage(int socket, const char* text);

// The receive queue of one endpoint: complete messages in arrival order,
// plus at most one message whose "<" has arrived but not its ">".
//
// Each owner frees its own queue when it goes; the queue is never shared,
// so no count of living owners is kept.
class CMessageQueue {
public:
    // Complete messages held at most; data arriving when full is dropped.
    static const int CAPACITY = 4096;

    // consolePrefix starts the queue's console lines: "SERVER MSG: " or
    // "CLIENT MSG: ".
    explicit CMessageQueue(const char* consolePrefix);
    ~CMessageQueue();
    CMessageQueue(const CMessageQueue&) = delete;
    CMessageQueue& operator=(const CMessageQueue&) = delete;

    // Splits count received bytes into messages. A message holding a NUL or
    // a control character is completed as the empty text, which no peer
    // sends (an empty text travels as MSG_EMPTY): what it said cannot be
    // trusted, but the messages after it are kept. Such bytes between
    // messages are stray bytes like any other. False only when the queue is
    // full, with the overflow line on standard error; the rest of the data
    // is then dropped.
    bool AddToQueue(const char* data, int count);
    // Moves the first complete message into buffer (at most length - 1
    // characters and a NUL). Nothing happens when none is complete.
    void GetFirstQueueItem(char* buffer, int length);
    bool CmdQueueHasItems() const;
    // True, with the overflow line on standard error, when no further
    // message fits.
    bool CmdQueueOverflow() const;

    // Forgets every message, complete or open: what one connection left
    // behind must never reach the next.
    void Clear();

    // Complete messages.
    int Count() const { return static_cast<int>(m_complete.size()); }
    bool IsOpen() const { return m_open != nullptr; }
    // The open message, or null.
    const CVString* OpenMessage() const;

    // The outcome of one ReceiveFrom.
    enum ReceiveResult {
        RECEIVED,    // a message is in the buffer
        CLOSED,      // the peer ended the connection
        FAILED,      // the socket reported an error (a reset too); the caller says so
        OVERFLOWED,  // the queue is full; its line has been printed
        TIMED_OUT    // no whole message within timeoutMs
    };
    // Delivers the next message into buffer (zero-filled first): a queued
    // one if there is one, else bytes are received from the socket until a
    // message is complete. length is also the most bytes read at once, and
    // bytes are received only while no complete message is queued, so what
    // a peer can make this end hold is bounded by one receive. With a
    // timeoutMs of 0 or more the whole message must arrive within it.
    ReceiveResult ReceiveFrom(int socket, char* buffer, int length, int timeoutMs = NO_TIMEOUT);

private:
    void StartMessage(const std::string& firstPiece);
    void ContinueMessage(const std::string& piece);
    void CompleteOpenMessage();

    CVString m_prefix;
    std::deque<std::unique_ptr<CVString>> m_complete;  // oldest first
    std::unique_ptr<CVString> m_open;                  // begun, its ">" not yet arrived
    bool m_openGarbled = false;                        // the open message has held a control byte
};

#endif
