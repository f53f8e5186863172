#include "QelAccessible.h"

#include <wx/dialog.h>
#include <wx/window.h>

#if defined(__WXGTK__)
#include <gtk/gtk.h>
#endif

void qelCloseOnEscape(wxDialog* dialog) {
    // No button answers to this id, so the toolkit's own handling of Escape
    // and of the close finds none to press and ends the dialog with it.
    dialog->SetEscapeId(wxID_CANCEL);
    dialog->Bind(wxEVT_CHAR_HOOK, [dialog](wxKeyEvent& event) {
        if (event.GetKeyCode() != WXK_ESCAPE) {
            event.Skip();
            return;
        }
        if (dialog->IsModal()) {
            dialog->EndModal(wxID_CANCEL);
        } else {
            dialog->Hide();
        }
    });
}

#if defined(__WXGTK__)

namespace {

AtkObject* accessibleOf(wxWindow* control) {
    if (control == nullptr) {
        return nullptr;
    }
    GtkWidget* widget = static_cast<GtkWidget*>(control->GetHandle());
    return widget != nullptr && GTK_IS_WIDGET(widget) ? gtk_widget_get_accessible(widget) : nullptr;
}

bool hasRelation(AtkObject* from, AtkRelationType type, AtkObject* to) {
    AtkRelationSet* set = atk_object_ref_relation_set(from);
    if (set == nullptr) {
        return false;
    }
    bool found = false;
    if (AtkRelation* relation = atk_relation_set_get_relation_by_type(set, type)) {
        GPtrArray* targets = atk_relation_get_target(relation);
        for (guint i = 0; targets != nullptr && i < targets->len; ++i) {
            found = found || g_ptr_array_index(targets, i) == to;
        }
    }
    g_object_unref(set);
    return found;
}

} // namespace

void qelSetAccessibleName(wxWindow* control, const wxString& name) {
    if (AtkObject* object = accessibleOf(control)) {
        if (!name.empty()) {
            atk_object_set_name(object, name.utf8_str());
        }
    }
}

void qelSetAccessibleDescription(wxWindow* control, const wxString& description) {
    if (AtkObject* object = accessibleOf(control)) {
        atk_object_set_description(object, description.utf8_str());
    }
}

void qelSetAccessibleLabel(wxWindow* control, wxWindow* label) {
    AtkObject* object = accessibleOf(control);
    AtkObject* labelObject = accessibleOf(label);
    if (object == nullptr || labelObject == nullptr) {
        return;
    }
    if (!hasRelation(object, ATK_RELATION_LABELLED_BY, labelObject)) {
        atk_object_add_relationship(object, ATK_RELATION_LABELLED_BY, labelObject);
    }
    if (!hasRelation(labelObject, ATK_RELATION_LABEL_FOR, object)) {
        atk_object_add_relationship(labelObject, ATK_RELATION_LABEL_FOR, object);
    }
}

wxString qelAccessibleName(wxWindow* control) {
    AtkObject* object = accessibleOf(control);
    const char* name = object != nullptr ? atk_object_get_name(object) : nullptr;
    return name != nullptr ? wxString::FromUTF8(name) : wxString();
}

wxString qelAccessibleDescription(wxWindow* control) {
    AtkObject* object = accessibleOf(control);
    const char* text = object != nullptr ? atk_object_get_description(object) : nullptr;
    return text != nullptr ? wxString::FromUTF8(text) : wxString();
}

bool qelAccessibleLabelled(wxWindow* control, wxWindow* label) {
    AtkObject* object = accessibleOf(control);
    AtkObject* labelObject = accessibleOf(label);
    return object != nullptr && labelObject != nullptr &&
           hasRelation(object, ATK_RELATION_LABELLED_BY, labelObject) &&
           hasRelation(labelObject, ATK_RELATION_LABEL_FOR, object);
}

#else

void qelSetAccessibleName(wxWindow*, const wxString&) {}
void qelSetAccessibleDescription(wxWindow*, const wxString&) {}
void qelSetAccessibleLabel(wxWindow*, wxWindow*) {}
wxString qelAccessibleName(wxWindow*) {
    return wxString();
}
wxString qelAccessibleDescription(wxWindow*) {
    return wxString();
}
bool qelAccessibleLabelled(wxWindow*, wxWindow*) {
    return false;
}

#endif
