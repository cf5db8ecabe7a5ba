// hello_client: a small client of conproxy on the client library. It starts the server, writes
// a line of the user's text at the top of the server's console (converted to the console's code
// page, or refused by name when the code page lacks a character), asks for the screen's size and
// ends the server. Exits 0 when every step was answered.
//
// Usage: hello_client [CONPROXY]
//   CONPROXY: the server to start (default: the one beside this program, else on PATH)
// The greeting is written here in UTF-8, the user's text on Windows and in a UTF-8 locale (or
// the C locale) on Linux.
#include <conproxy_client.h>
#include <conproxy_text.h>

#include <clocale>
#include <cstdio>
#include <string>

namespace {

int Fail(const char* step, const std::string& why) {
    std::fprintf(stderr, "hello_client: %s: %s\n", step, why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "");  // the user's text is the locale's (Linux)
    const std::string server = argc > 1 ? argv[1] : conclient::DefaultServerPath(argv[0]);
    const std::string text = "Привет от hello_client";

    // The line in the console's code page, before anything starts: a character it lacks is
    // the user's to change.
    std::string bytes, problem;
    if (!conclient::TextToConsole(text + "\r\n", &bytes, &problem))
        return Fail("text", problem);

    // The region and the two events on fresh names, then the server on them.
    conclient::ConproxyClient client;
    std::string error;
    if (!client.Open(conclient::UniqueNames(), &error))
        return Fail("open", error);
    conclient::StartOptions options;
    options.serverPath = server;
    if (!client.StartServer(options, &error))
        return Fail("start", error);
    conclient::WaitResult r = client.WaitReady(5000);
    if (r != conclient::WaitResult::kReplied)
        return Fail("ready", conclient::WaitResultName(r));

    // One request at a time; each call returns once the server has answered.
    if ((r = client.SetCursor(0, 0)) != conclient::WaitResult::kReplied)
        return Fail("cursor", conclient::WaitResultName(r));
    if ((r = client.WriteText(bytes)) != conclient::WaitResult::kReplied)
        return Fail("write", conclient::WaitResultName(r));
    conclient::ScreenInfo screen;
    if ((r = client.GetScreenInfo(&screen)) != conclient::WaitResult::kReplied)
        return Fail("info", conclient::WaitResultName(r));
    std::printf("screen %dx%d, cursor at %d,%d\n", screen.sizeX, screen.sizeY, screen.cursorX,
                screen.cursorY);

    // Command 2 ends the server after its answer.
    int32_t status = -1;
    if ((r = client.Exit(&status)) != conclient::WaitResult::kReplied)
        return Fail("exit", conclient::WaitResultName(r));
    const conclient::ServerExit end = client.WaitServerExit(5000);
    if (!end.ended || !end.exited || end.code != 0)
        return Fail("exit", "the server did not end with status 0");
    return 0;
}
