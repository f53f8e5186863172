#include "QelGui.h"

#include "QelAppPlatform.h"
#include "QelAsioFactory.h"
#include "QelClient.h"
#include "QelErrors.h"
#include "QelFrame.h"
#include "QelImageManager.h"
#include "QelMessageBox.h"
#include "QelText.h"

#include "kes_log.h"
#include "kes_text.h"

#include <wx/arrstr.h>
#include <wx/filefn.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/stdpaths.h>

#include <new>

namespace {

const char k_where[] = "QelGui::OnInit";

// The lock main() took before the toolkit started, until OnInit takes it over.
kes_instance* g_heldInstance = nullptr;

// The directory of the program (everything before the last "/" or "\\").
wxString executableDirectory() {
    const wxString executable = wxStandardPaths::Get().GetExecutablePath();
    const size_t cut = executable.find_last_of(wxT("/\\"));
    return cut == wxString::npos ? wxString(wxT(".")) : executable.Left(cut);
}

// The code's text, in English and in the user's language.
QelText resultText(kes_result result) {
    const char* text = kes_result_text(result);
    return qelText(wxString::FromUTF8(text != nullptr ? text : "(null)"));
}

} // namespace

QelGui::QelGui()
    : m_env(nullptr), m_factory(nullptr), m_client(nullptr), m_errors(nullptr), m_frame(nullptr),
      m_instance(nullptr), m_windowUp(false) {}

QelGui::~QelGui() {
    // No later start may ask for a window from here on.
    stopInstanceServer();
    delete m_errors;
    delete m_client;
    delete m_factory;
    m_images.reset();
    if (m_env != nullptr) {
        kes_env_release(m_env);
    }
    kes_instance_unlock(m_instance);
}

kes_result QelGui::lockInstance() {
    if (g_heldInstance != nullptr) {
        return KES_SUCCESS;
    }
    return kes_instance_lock(nullptr, &g_heldInstance);
}

bool QelGui::OnInit() {
    // Every text from here on, the boxes' included, in the user's language.
    qelUseTranslations(executableDirectory());

    // One instance per executable. Another one has been asked to show its
    // window, or has none yet: either way this one ends without a word. A
    // lock that cannot be taken at all (its directory refused, say) is no
    // other instance: the user is told.
    const kes_result lock = lockInstance();
    if (lock == KES_ALREADY || lock == KES_NOTFOUND) {
        return false;
    }
    if (lock != KES_SUCCESS) {
        kes_env* env = nullptr;
        if (kes_env_acquire(&env) == KES_SUCCESS) {
            m_env = env;
            if (m_env->log != nullptr) {
                kes_log_set_threshold(m_env->log, KES_LOG_STDERR, KES_LOG_DEBUG);
            }
        }
        if (!wxApp::OnInit()) {
            return false;
        }
        char directory[QEL_INSTANCE_PATH_MAX];
        if (kes_instance_where(directory, sizeof directory) != KES_SUCCESS) {
            kes_strlcpy(directory, "?", sizeof directory);
        }
        return startupError(
            qelFormat(wxTRANSLATE("Failed to start QEL: the single instance lock cannot be taken "
                                  "in %s: %s"),
                      wxString::FromUTF8(directory), resultText(lock)));
    }
    m_instance = g_heldInstance;
    g_heldInstance = nullptr;
    startInstanceServer();

    kes_env* env = nullptr;
    if (kes_env_acquire(&env) != KES_SUCCESS) {
        return startupError(qelText(wxTRANSLATE("Failed to start QEL: no env")));
    }
    m_env = env;
    if (m_env->log != nullptr) {
        kes_log_set_threshold(m_env->log, KES_LOG_STDERR, KES_LOG_DEBUG);
    }

    if (!wxApp::OnInit()) {
        return false;
    }
    wxInitAllImageHandlers();

    m_factory = new (std::nothrow) QelAsioFactory();
    if (m_factory == nullptr) {
        return startupError(qelText(wxTRANSLATE("Error: must specify QEL type")));
    }

    // The pictures are found next to the executable or in its res/, and the
    // layout opens some by paths relative to the executable's directory.
    const wxString directory = executableDirectory();
    wxSetWorkingDirectory(directory);
    kes_log_printf(m_env->log, KES_LOG_DEBUG, "%s: working directory %s\n", k_where,
                   static_cast<const char*>(wxGetCwd().utf8_str()));
    wxArrayString paths;
    paths.Add(directory + wxT("/"));
    paths.Add(directory + wxT("/res/"));

    m_images.reset(new (std::nothrow) QelImageManager(&paths));
    if (!m_images) {
        return startupError(qelText(wxTRANSLATE("Failed to create Image Manager: no memory")));
    }

    m_client = m_factory->createClient();
    if (m_client == nullptr) {
        return startupError(qelText(wxTRANSLATE("Failed to create the QEL client: no memory")));
    }
    kes_result result = m_client->initManagerClient(m_env, m_client->getManagerClientAddress());
    if (result == KES_SUCCESS) {
        result = m_client->createModel();
    }
    if (result != KES_SUCCESS) {
        return startupError(
            qelFormat(wxTRANSLATE("Failed to initialize the QEL client: %s"), resultText(result)));
    }
    result = m_client->connect();
    if (result != KES_SUCCESS) {
        return startupError(
            qelFormat(wxTRANSLATE("Failed to connect QEL client: %s"), resultText(result)));
    }
    result = m_client->waitForConnection();
    if (result == KES_CONNRESET) {
        // Nobody listens on the manager's port.
        return startupError(qelText(wxTRANSLATE(
            "The QEL Manager service is not available, please try again in a few minutes")));
    }
    if (result != KES_SUCCESS) {
        return startupError(
            qelFormat(wxTRANSLATE("Error waiting for connection response from manager: %s"),
                      resultText(result)));
    }
    result = m_client->waitForOptions();
    if (result != KES_SUCCESS) {
        return startupError(qelFormat(wxTRANSLATE("Error waiting for options from manager: %s"),
                                      resultText(result)));
    }
    result = m_client->waitForState();
    if (result != KES_SUCCESS) {
        return startupError(
            qelFormat(wxTRANSLATE("Error waiting for state from manager: %s"), resultText(result)));
    }

    QelFrame* frame = new QelFrame(m_factory, m_images.get());
    m_frame = frame;
    frame->Bind(wxEVT_DESTROY, &QelGui::onFrameDestroyed, this);
    // Events the thread posts from now on wait in the queue until the event
    // loop runs, when the frame already has its client.
    m_client->startThread(frame);

    const wxIconBundle icons = qelApplicationIcons(*m_images);
    if (!icons.IsEmpty()) {
        frame->SetIcons(icons);
    }

    m_errors = new QelErrors(m_client);
    frame->setClient(m_client);
    frame->Show(true);
    SetTopWindow(frame);
    m_windowUp = true;

    // From here on a request from outside to end the program (a terminating
    // signal on GTK) closes the window, also while the box below is open.
    qelCloseOnTerminate(this, &QelGui::onTerminateSignal);

    // A system error the manager reports already is shown right away, as a
    // delivery of the client's: what arrives while its box is open waits.
    m_client->deliverTo(m_errors, QEL_CLIENT_EVENT_STATE);
    return true;
}

bool QelGui::startupError(const QelText& text) {
    if (m_env != nullptr) {
        kes_log_printf(m_env->log, KES_LOG_ERROR, "%s: %s\n", k_where,
                       static_cast<const char*>(text.english.utf8_str()));
    }
    qelErrorBox(text);
    return false;
}

void QelGui::startInstanceServer() {
    if (m_instance == nullptr || m_instanceServer.joinable()) {
        return;
    }
    kes_instance* instance = m_instance;
    m_instanceServer = std::thread([this, instance] {
        for (;;) {
            const kes_result result =
                kes_instance_serve(instance, nullptr, &QelGui::onRaiseRequest, this);
            // A caller that misbehaved is its own problem; anything else
            // (interrupted, or the socket failing) ends the service.
            if (result != KES_SUCCESS && result != KES_TIMEDOUT && result != KES_ACCES &&
                result != KES_INVALIDDATA) {
                return;
            }
        }
    });
}

void QelGui::stopInstanceServer() {
    if (!m_instanceServer.joinable()) {
        return;
    }
    kes_instance_interrupt(m_instance);
    m_instanceServer.join();
}

bool QelGui::onRaiseRequest(void* context) {
    QelGui* self = static_cast<QelGui*>(context);
    if (!self->m_windowUp.load()) {
        return false;
    }
    // The serving thread never touches a window: the GUI thread does it.
    self->CallAfter(&QelGui::raiseMainWindow);
    return true;
}

void QelGui::raiseMainWindow() {
    if (m_frame == nullptr) {
        return;
    }
    if (m_env != nullptr) {
        kes_log_printf(m_env->log, KES_LOG_DEBUG, "%s: another start brings the window forward\n",
                       "QelGui::raiseMainWindow");
    }
    if (m_frame->IsIconized()) {
        m_frame->Iconize(false);
    }
    m_frame->Show(true);
    m_frame->Raise();
}

void QelGui::onFrameDestroyed(wxWindowDestroyEvent& event) {
    if (event.GetEventObject() == m_frame) {
        m_windowUp = false;
        m_frame = nullptr;
    }
    event.Skip();
}

void QelGui::onTerminateSignal(int) {
    QelGui* self = dynamic_cast<QelGui*>(wxApp::GetInstance());
    if (self == nullptr) {
        return;
    }
    if (self->m_frame != nullptr) {
        self->m_frame->Close(true);
    } else {
        self->ExitMainLoop();
    }
    // The frame is deleted, and the loop left, in idle time; a signal is no
    // user input, so nothing else would start that idle time soon.
    wxWakeUpIdle();
}
