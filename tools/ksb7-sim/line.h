#pragma once
// The serial line a simulated KSB-7 answers on: a pseudo-terminal with the link COMn to it in the
// port folder, the thread that cuts what arrives into requests and hands each to the unit of its
// address, the replies sent back as the unit shapes them in time (delayed, in two halves, the
// port vanishing halfway), and the traffic print. Several units may answer on one line, as on a
// multi-drop bus.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ksb7sim
{

// What a unit sends back for one request, and how.
struct Outgoing {
    std::vector<uint8_t> noise; // sent as the unit takes the request, before its reply
    std::vector<uint8_t> bytes; // nothing: no reply
    std::string note;           // printed after the bytes
    int delayMs = 0;
    int splitPauseMs = 0;     // > 0: two halves with this pause between them
    bool vanish = false;      // send half, then the port disappears ...
    int vanishDowntimeMs = 0; // ... and comes back after this; < 0: never
};

// A unit on a line.
class Station
{
public:
    virtual int address() const = 0;
    // Takes the request at the start of chunk, or the whole chunk when it holds none for this
    // unit, and says what to send back and what to print. Returns what follows the request.
    virtual std::vector<uint8_t> take(const std::vector<uint8_t> &chunk, Outgoing &out,
                                      std::vector<std::string> &lines) = 0;
    // The line hands every byte sent on it straight back to the sender.
    virtual bool echoes() const { return false; }

protected:
    virtual ~Station() = default;
};

class Line
{
public:
    // host answers every frame that is not for one of the other units on the line.
    explicit Line(Station &host);
    ~Line(); // closes
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;

    // Creates the pseudo-terminal and the link COM<portNumber> in qvoksb::portDirectory() and
    // starts answering. An existing entry that is not a dangling link (another unit, a real port
    // of the user) is left alone and open() fails.
    bool open(int portNumber, std::string *error);
    void close(); // removes the link, if it is still ours

    // Another unit answering on this line; its address must differ from those already there.
    bool attach(Station &unit, std::string *error);
    void detach(Station &unit); // once detached, the line no longer reaches the unit

    std::string linkPath() const;   // <port directory>/COMn
    std::string devicePath() const; // the terminal the link points to now

    // Receives every line of the traffic print (without a line end); none by default.
    void setPrinter(std::function<void(const std::string &line)> printer);

private:
    void run();
    bool openTerminal(std::string *error);
    bool readChunk(std::vector<uint8_t> &chunk);
    bool drainNotifications();
    void handleChunk(std::vector<uint8_t> chunk);
    void deliver(const Outgoing &out);
    void send(const uint8_t *bytes, size_t count, const std::string &note);
    void vanish(int downtimeMs);
    bool pause(int ms) const;
    void print(const std::string &line);

    Station &host;
    std::mutex unitsMutex; // held while a unit takes a request, so that it stays attached
    std::vector<Station *> guests;

    mutable std::mutex mutex; // master and ptsPath, which vanish() changes
    int master = -1;
    std::string ptsPath;

    std::mutex printMutex;
    std::function<void(const std::string &)> printer;

    // Owned by the thread while it runs.
    int notify = -1;
    bool watchMaster = true;
    int wake[2] = {-1, -1};
    std::string link;
    std::string vanishedTarget;
    std::thread thread;
    std::atomic<bool> stopping{false};
    bool opened = false;
};

} // namespace ksb7sim
