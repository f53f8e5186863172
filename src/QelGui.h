// The application object. OnInit brings the control panel up in a fixed
// order: one instance per executable, the runtime environment, the working
// directory and picture search paths, the factory, the image manager and the
// client, the connection to the manager and its options and state, and only
// then the main window with its client thread and error reporter. Every
// failure on the way shows an error box and ends the program. The destructor
// takes everything down again in reverse order.
#pragma once

#include "kes_env.h"
#include "kes_instance.h"
#include "kes_result.h"

#include <wx/app.h>
#include <wx/event.h>
#include <wx/string.h>

#include <atomic>
#include <memory>
#include <thread>

class QelClient;
class QelErrors;
class QelFactory;
class QelFrame;
class QelImageManager;
struct QelText;

class QelGui : public wxApp {
public:
    QelGui();
    QelGui(const QelGui&) = delete;
    QelGui& operator=(const QelGui&) = delete;
    ~QelGui() override;

    bool OnInit() override;

    // Takes the instance lock for this executable before the toolkit starts,
    // so that a second start raises the first one's window and ends without
    // bringing up a display connection of its own. The lock is handed to the
    // application object, whose OnInit takes it itself when this was not
    // called. KES_SUCCESS when this process is the only instance.
    static kes_result lockInstance();

private:
    // Logs the start-up failure, shows it in an error box and returns false.
    bool startupError(const QelText& text);

    // Answers later starts of the same executable on a thread of its own.
    void startInstanceServer();
    void stopInstanceServer();
    // On the serving thread: true when the main window is up; the GUI
    // thread then brings it to the front.
    static bool onRaiseRequest(void* context);
    void raiseMainWindow();
    void onFrameDestroyed(wxWindowDestroyEvent& event);

    // SIGTERM and SIGINT close the main window as the user would, so that
    // the manager hears the DISCONNECT.
    static void onTerminateSignal(int signal);

    kes_env* m_env;
    QelFactory* m_factory;
    QelClient* m_client;
    QelErrors* m_errors;

    std::unique_ptr<QelImageManager> m_images;
    QelFrame* m_frame; // the main window while it exists; GUI thread only
    kes_instance* m_instance;
    std::thread m_instanceServer;
    std::atomic<bool> m_windowUp; // the main window is shown and not destroyed
};

wxDECLARE_APP(QelGui);
