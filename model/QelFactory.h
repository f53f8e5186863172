// The factory decides which family of objects the application works with:
// the client object, the model objects and the main panel. This is the
// abstract base; the client object and the panel belong to the windows'
// layer, so a concrete factory there makes them. Every create operation
// returns a new object that the caller owns, or null when memory runs out.
#pragma once

class QelClient;
class QelConfig;
class QelImageManager;
class QelInfo;
class QelOptions;
class QelPanel;
class QelState;
class wxWindow;

class QelFactory {
public:
    QelFactory() = default;
    QelFactory(const QelFactory&) = delete;
    QelFactory& operator=(const QelFactory&) = delete;
    virtual ~QelFactory();

    virtual QelClient* createClient() = 0;
    virtual QelInfo* createInfo();
    virtual QelOptions* createOptions();
    virtual QelConfig* createConfig();
    // A state whose configuration object comes from this factory's
    // createConfig, so it is of the factory's family.
    virtual QelState* createState();
    virtual QelPanel* createPanel(wxWindow* parent, QelImageManager* images) = 0;
};
