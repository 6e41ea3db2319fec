// What assistive technology reads from a dialog: names, descriptions, roles, live regions.

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>

#include "platform/gtk/dialog_window_gtk.h"
#include "platform/ui/accessibility.h"

namespace fw {
namespace {

constexpr const char* kLiveLabelType = "FwLiveLabel";
constexpr const char* kLiveLabelAccessibleType = "FwLiveLabelAccessible";

// A screen reader speaks a change of a live region's text without the focus going there.
AtkAttributeSet* LiveAttributes(AtkObject* object) {
    auto* parent = ATK_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)));
    AtkAttributeSet* set = parent->get_attributes ? parent->get_attributes(object) : nullptr;
    for (const char* name : {"live", "container-live"}) {
        auto* attribute = static_cast<AtkAttribute*>(g_malloc(sizeof(AtkAttribute)));
        attribute->name = g_strdup(name);
        attribute->value = g_strdup("polite");
        set = g_slist_prepend(set, attribute);
    }
    return set;
}

void LiveAccessibleClassInit(gpointer klass, gpointer) {
    ATK_OBJECT_CLASS(klass)->get_attributes = LiveAttributes;
}

GType Subtype(GType parent, const char* name, GClassInitFunc init) {
    GType type = g_type_from_name(name);
    if (type != 0) return type;
    GTypeQuery query;
    g_type_query(parent, &query);
    return g_type_register_static_simple(parent, g_intern_static_string(name), query.class_size,
                                         init, query.instance_size, nullptr, GTypeFlags(0));
}

void LiveLabelClassInit(gpointer klass, gpointer) {
    gtk_widget_class_set_accessible_type(
        GTK_WIDGET_CLASS(klass),
        Subtype(GTK_TYPE_LABEL_ACCESSIBLE, kLiveLabelAccessibleType, LiveAccessibleClassInit));
}

AtkObject* Accessible(GtkControl& c) {
    return gtk_widget_get_accessible(c.focusWidget ? c.focusWidget : c.widget);
}

GtkControl* ControlOfTemplate(GtkDialogWindow& w, const ControlTemplate* t) {
    for (auto& c : w.controls) {
        if (c->tmpl == t) return c.get();
    }
    return nullptr;
}

}  // namespace

GtkWidget* NewLiveLabel() {
    return GTK_WIDGET(g_object_new(Subtype(GTK_TYPE_LABEL, kLiveLabelType, LiveLabelClassInit),
                                   nullptr));
}

void ExposeControls(GtkDialogWindow& w) {
    atk_object_set_role(gtk_widget_get_accessible(w.window), ATK_ROLE_DIALOG);
    for (auto& c : w.controls) {
        std::string name = AccessibleName(*w.tmpl, c->id);
        if (c->focusWidget == nullptr && c->kind != ControlKind::kProgress) continue;
        GtkWidget* target = c->focusWidget ? c->focusWidget : c->widget;
        if (GtkControl* label = ControlOfTemplate(w, LabelOf(*w.tmpl, c->id))) {
            // One label per control: its mnemonic, and the labelled-by relation that comes with it.
            if (label->label) gtk_label_set_mnemonic_widget(GTK_LABEL(label->label), target);
        }
        if (!name.empty() && c->kind != ControlKind::kPushButton &&
            c->kind != ControlKind::kCheckBox) {
            atk_object_set_name(Accessible(*c), ShownText(name).c_str());
        }
        if (GtkControl* describer = w.Find(c->tmpl->describedBy)) {
            atk_object_add_relationship(Accessible(*c), ATK_RELATION_DESCRIBED_BY,
                                        gtk_widget_get_accessible(describer->widget));
            atk_object_add_relationship(gtk_widget_get_accessible(describer->widget),
                                        ATK_RELATION_DESCRIPTION_FOR, Accessible(*c));
        }
    }
    for (auto& c : w.controls) UpdateDescriptions(w, c->id);
}

void UpdateDescriptions(GtkDialogWindow& w, int describerId) {
    if (describerId == kNoControlId) return;
    for (auto& c : w.controls) {
        if (c->tmpl->describedBy != describerId) continue;
        if (GtkControl* describer = w.Find(describerId)) {
            atk_object_set_description(Accessible(*c), ShownText(describer->text).c_str());
        }
    }
}

void DescribeWindow(GtkDialogWindow& w) {
    // The texts before the first control that takes the focus, which label nothing: what a
    // screen reader reads when the window opens, as it does for a stock dialog's message.
    std::string description;
    for (auto& c : w.controls) {
        if (c->focusWidget != nullptr) break;
        if (c->kind != ControlKind::kStatic || !gtk_widget_get_visible(c->widget)) continue;
        if (c->label && gtk_label_get_mnemonic_widget(GTK_LABEL(c->label)) != nullptr) continue;
        std::string shown = ShownText(c->text);
        if (shown.empty()) continue;
        if (!description.empty()) description += ' ';
        description += shown;
    }
    if (!description.empty()) {
        atk_object_set_description(gtk_widget_get_accessible(w.window), description.c_str());
    }
}

}  // namespace fw
