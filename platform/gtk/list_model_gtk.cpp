// The rows of a list box as a GtkTreeModel over our own deque of byte strings: one string per
// row and nothing else, where a GtkListStore would add a sequence node, a value cell and a
// copy of the string. Lists of hundreds of thousands of rows stay small, and reading a row back
// is an index. A deque, because a vector that doubles holds its old and new block at once.

#include <gtk/gtk.h>

#include <deque>
#include <string>

#include "platform/gtk/dialog_window_gtk.h"

namespace fw {
namespace {

struct FwTextList {
    GObject parent;
    std::deque<std::string>* rows;
    gint stamp;
};
struct FwTextListClass {
    GObjectClass parent;
};

FwTextList* Self(GtkTreeModel* model) {
    return reinterpret_cast<FwTextList*>(model);
}

void InstanceInit(GTypeInstance* instance, gpointer) {
    auto* self = reinterpret_cast<FwTextList*>(instance);
    self->rows = new std::deque<std::string>();
    self->stamp = 1;
}

void Finalize(GObject* object) {
    delete reinterpret_cast<FwTextList*>(object)->rows;
    G_OBJECT_CLASS(g_type_class_peek(G_TYPE_OBJECT))->finalize(object);
}

void ClassInit(gpointer klass, gpointer) {
    G_OBJECT_CLASS(klass)->finalize = Finalize;
}

int IndexOf(FwTextList* self, GtkTreeIter* iter) {
    if (iter == nullptr || iter->stamp != self->stamp) return -1;
    int index = GPOINTER_TO_INT(iter->user_data);
    return index >= 0 && index < static_cast<int>(self->rows->size()) ? index : -1;
}

gboolean SetIter(FwTextList* self, GtkTreeIter* iter, int index) {
    if (index < 0 || index >= static_cast<int>(self->rows->size())) {
        iter->stamp = 0;
        return FALSE;
    }
    iter->stamp = self->stamp;
    iter->user_data = GINT_TO_POINTER(index);
    iter->user_data2 = nullptr;
    iter->user_data3 = nullptr;
    return TRUE;
}

GtkTreeModelFlags GetFlags(GtkTreeModel*) {
    return GTK_TREE_MODEL_LIST_ONLY;
}
gint GetNColumns(GtkTreeModel*) {
    return 1;
}
GType GetColumnType(GtkTreeModel*, gint) {
    return G_TYPE_STRING;
}
gboolean GetIter(GtkTreeModel* model, GtkTreeIter* iter, GtkTreePath* path) {
    if (gtk_tree_path_get_depth(path) != 1) return FALSE;
    return SetIter(Self(model), iter, gtk_tree_path_get_indices(path)[0]);
}
GtkTreePath* GetPath(GtkTreeModel* model, GtkTreeIter* iter) {
    int index = IndexOf(Self(model), iter);
    return index < 0 ? nullptr : gtk_tree_path_new_from_indices(index, -1);
}
void GetValue(GtkTreeModel* model, GtkTreeIter* iter, gint, GValue* value) {
    g_value_init(value, G_TYPE_STRING);
    int index = IndexOf(Self(model), iter);
    if (index >= 0)
        g_value_set_string(value, (*Self(model)->rows)[static_cast<std::size_t>(index)].c_str());
}
gboolean IterNext(GtkTreeModel* model, GtkTreeIter* iter) {
    int index = IndexOf(Self(model), iter);
    return SetIter(Self(model), iter, index < 0 ? -1 : index + 1);
}
gboolean IterPrevious(GtkTreeModel* model, GtkTreeIter* iter) {
    int index = IndexOf(Self(model), iter);
    return SetIter(Self(model), iter, index < 0 ? -1 : index - 1);
}
gboolean IterChildren(GtkTreeModel* model, GtkTreeIter* iter, GtkTreeIter* parent) {
    return parent == nullptr ? SetIter(Self(model), iter, 0) : FALSE;
}
gboolean IterHasChild(GtkTreeModel*, GtkTreeIter*) {
    return FALSE;
}
gint IterNChildren(GtkTreeModel* model, GtkTreeIter* iter) {
    return iter == nullptr ? static_cast<gint>(Self(model)->rows->size()) : 0;
}
gboolean IterNthChild(GtkTreeModel* model, GtkTreeIter* iter, GtkTreeIter* parent, gint n) {
    return parent == nullptr ? SetIter(Self(model), iter, n) : FALSE;
}
gboolean IterParent(GtkTreeModel*, GtkTreeIter*, GtkTreeIter*) {
    return FALSE;
}

void InterfaceInit(gpointer interface, gpointer) {
    auto* iface = static_cast<GtkTreeModelIface*>(interface);
    iface->get_flags = GetFlags;
    iface->get_n_columns = GetNColumns;
    iface->get_column_type = GetColumnType;
    iface->get_iter = GetIter;
    iface->get_path = GetPath;
    iface->get_value = GetValue;
    iface->iter_next = IterNext;
    iface->iter_previous = IterPrevious;
    iface->iter_children = IterChildren;
    iface->iter_has_child = IterHasChild;
    iface->iter_n_children = IterNChildren;
    iface->iter_nth_child = IterNthChild;
    iface->iter_parent = IterParent;
}

GType TextListType() {
    // Registered once per process, as every GObject type is.
    static const GType type = [] {
        GType registered = g_type_register_static_simple(
            G_TYPE_OBJECT, "FwTextList", static_cast<guint>(sizeof(FwTextListClass)), ClassInit,
            static_cast<guint>(sizeof(FwTextList)), InstanceInit, GTypeFlags{});
        const GInterfaceInfo model{InterfaceInit, nullptr, nullptr};
        g_type_add_interface_static(registered, GTK_TYPE_TREE_MODEL, &model);
        return registered;
    }();
    return type;
}

}  // namespace

GtkTreeModel* NewTextListModel() {
    return GTK_TREE_MODEL(g_object_new(TextListType(), nullptr));
}

const std::deque<std::string>& TextListRows(GtkTreeModel* model) {
    return *Self(model)->rows;
}

void TextListInsert(GtkTreeModel* model, int index, std::string text) {
    FwTextList* self = Self(model);
    self->rows->insert(self->rows->begin() + index, std::move(text));
    ++self->stamp;  // every iterator handed out before points elsewhere now
    GtkTreeIter iter;
    SetIter(self, &iter, index);
    GtkTreePath* path = gtk_tree_path_new_from_indices(index, -1);
    gtk_tree_model_row_inserted(model, path, &iter);
    gtk_tree_path_free(path);
}

void TextListDelete(GtkTreeModel* model, int index) {
    FwTextList* self = Self(model);
    self->rows->erase(self->rows->begin() + index);
    ++self->stamp;
    GtkTreePath* path = gtk_tree_path_new_from_indices(index, -1);
    gtk_tree_model_row_deleted(model, path);
    gtk_tree_path_free(path);
}

void TextListClear(GtkTreeModel* model) {
    FwTextList* self = Self(model);
    std::deque<std::string>().swap(*self->rows);
    ++self->stamp;
}

}  // namespace fw
