#pragma once
// What the desktop needs of the in-process OPC DA server: its life cycle and
// the two counts the main window shows. The program runs the real one
// (opcda_in_process.h); TNullOpcDaServer serves windows that need no OPC DA
// (tests of other parts, pictures, benchmarks).

#include <string>

namespace gw::desktop {

class TOpcDaServer {
public:
    virtual ~TOpcDaServer() = default;
    // progId and description name the server to clients; with setExePath the
    // current directory becomes the program's folder.
    virtual void Init(const std::string& progId, const std::string& description, bool setExePath, bool logFlag) = 0;
    virtual void Start() = 0;
    // Asks every connected client to shut down.
    virtual void ShutDown() = 0;
    virtual int GetServerCount() const = 0;
    virtual int GetGroupCount() const = 0;
};

class TNullOpcDaServer final : public TOpcDaServer {
public:
    void Init(const std::string&, const std::string&, bool, bool) override {}
    void Start() override {}
    void ShutDown() override {}
    int GetServerCount() const override { return 0; }
    int GetGroupCount() const override { return 0; }
};

} // namespace gw::desktop
