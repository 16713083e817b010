// The dialog in a GTK 3 window: the template's controls placed at their
// dialog-unit positions, converted to pixels with the measures of the font
// GTK actually uses for the template's face and size.
#include <errno.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>

#include "platform/dialog_linux.h"

namespace vinto {

constexpr WPARAM BN_CLICKED = 0;  // notification code of a push-button click

bool GtkDialogAvailable() {
    static int available = -1;
    if (available < 0) {
        const char* x11 = getenv("DISPLAY");
        const char* wayland = getenv("WAYLAND_DISPLAY");
        bool display = (x11 && *x11) || (wayland && *wayland);
        // The window class window managers show: the program's own name.
        if (display && !g_get_prgname()) g_set_prgname(program_invocation_short_name);
        available = display && gtk_init_check(nullptr, nullptr);
    }
    return available;
}

static PangoFontDescription* TemplateFont(const DialogTemplate* dialog) {
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, dialog->face);
    pango_font_description_set_size(font, dialog->point_size * PANGO_SCALE);
    return font;
}

// What Windows takes from the dialog font: the average width of the 52
// letters and the font's full height (ascent plus descent).
static DialogBaseUnits MeasureFont(GtkWidget* widget, const DialogTemplate* dialog) {
    PangoFontDescription* font = TemplateFont(dialog);
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, DIALOG_ALPHABET);
    pango_layout_set_font_description(layout, font);
    int alphabet_width = 0;
    pango_layout_get_pixel_size(layout, &alphabet_width, nullptr);
    PangoFontMetrics* metrics =
        pango_context_get_metrics(pango_layout_get_context(layout), font, nullptr);
    int height = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics) +
                              pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);
    g_object_unref(layout);
    pango_font_description_free(font);
    return BaseUnitsFromFont(alphabet_width, height);
}

static GtkCssProvider* DialogStyle(const DialogTemplate* dialog) {
    char css[512];
    // The template's font for every control; WS_BORDER as a thin dark line;
    // SS_SUNKEN as the half-sunken edge: shadow above and left, light below and right.
    snprintf(css, sizeof css,
             "* { font-family: \"%s\"; font-size: %dpt; }\n"
             ".dialog-border { border: 1px solid #000000; }\n"
             ".static-sunken { border-style: solid; border-width: 1px;"
             " border-color: #808080 #ffffff #ffffff #808080; }\n",
             dialog->face, dialog->point_size);
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css, -1, nullptr);
    return provider;
}

static void Style(GtkWidget* widget, GtkCssProvider* provider, const char* style_class) {
    GtkStyleContext* context = gtk_widget_get_style_context(widget);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    if (style_class) gtk_style_context_add_class(context, style_class);
}

struct ShownDialog {
    LinuxWindow* window;
    GtkWidget* toplevel;  // null once destroyed
};

static void OnClicked(GtkButton* button, gpointer data) {
    auto* dialog = static_cast<ShownDialog*>(data);
    WPARAM id = WPARAM(uint16_t(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "id"))));
    SendDialogMessage(dialog->window, WM_COMMAND, id | BN_CLICKED << 16, 0);
}

static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    SendDialogMessage(static_cast<ShownDialog*>(data)->window, WM_CLOSE, 0, 0);
    return TRUE;  // only EndDialog removes the window
}

static gboolean OnKeyPress(GtkWidget* toplevel, GdkEventKey* event, gpointer data) {
    auto* dialog = static_cast<ShownDialog*>(data);
    switch (event->keyval) {
        case GDK_KEY_Escape:
            SendDialogMessage(dialog->window, WM_COMMAND, IDCANCEL, 0);
            return TRUE;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            // A focused push button takes Enter as its click; otherwise the
            // dialog's default command, IDOK, as there is no default button.
            if (GTK_IS_BUTTON(gtk_window_get_focus(GTK_WINDOW(toplevel)))) return FALSE;
            SendDialogMessage(dialog->window, WM_COMMAND, DIALOG_IDOK, 0);
            return TRUE;
    }
    return FALSE;
}

static void OnDestroy(GtkWidget*, gpointer data) {
    auto* dialog = static_cast<ShownDialog*>(data);
    dialog->toplevel = nullptr;
    dialog->window->ended = true;  // the window is gone: so is the dialog
}

static GtkWidget* CreateControl(const DialogControlTemplate& control, ShownDialog* dialog,
                                GtkCssProvider* provider) {
    if (control.control_class == DIALOG_BUTTON) {
        GtkWidget* button = gtk_button_new_with_label(control.text);
        Style(button, provider, nullptr);
        Style(gtk_bin_get_child(GTK_BIN(button)), provider, nullptr);
        gtk_widget_set_can_focus(button, (control.style & DIALOG_WS_TABSTOP) != 0);
        g_object_set_data(G_OBJECT(button), "id", GINT_TO_POINTER(control.id));
        g_signal_connect(button, "clicked", G_CALLBACK(OnClicked), dialog);
        return button;
    }
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    Style(box, provider, (control.style & DIALOG_SS_SUNKEN) ? "static-sunken" : nullptr);
    GtkWidget* label = gtk_label_new(control.text);
    Style(label, provider, nullptr);
    gtk_widget_set_hexpand(label, TRUE);
    gtk_widget_set_halign(label, (control.style & DIALOG_SS_CENTER) ? GTK_ALIGN_CENTER : GTK_ALIGN_START);
    gtk_widget_set_valign(label, (control.style & DIALOG_SS_CENTERIMAGE) ? GTK_ALIGN_CENTER : GTK_ALIGN_START);
    gtk_container_add(GTK_CONTAINER(box), label);
    return box;
}

bool RunGtkDialog(LinuxWindow* window) {
    const DialogTemplate* dialog = window->dialog;
    ShownDialog state = {window, gtk_window_new(GTK_WINDOW_TOPLEVEL)};
    GtkWindow* toplevel = GTK_WINDOW(state.toplevel);
    GtkCssProvider* provider = DialogStyle(dialog);

    // A popup without caption or system menu, laid out in pixels.
    gtk_window_set_decorated(toplevel, FALSE);
    gtk_window_set_resizable(toplevel, FALSE);
    gtk_window_set_title(toplevel, "");
    if (dialog->style & DIALOG_DS_CENTER) gtk_window_set_position(toplevel, GTK_WIN_POS_CENTER);
    Style(state.toplevel, provider, nullptr);

    DialogBaseUnits base = MeasureFont(state.toplevel, dialog);
    GtkWidget* frame = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    Style(frame, provider, (dialog->style & DIALOG_WS_BORDER) ? "dialog-border" : nullptr);
    GtkWidget* client = gtk_fixed_new();
    PixelRect size = DialogUnitsToPixels(0, 0, dialog->width, dialog->height, base);
    gtk_widget_set_size_request(client, size.width, size.height);
    gtk_container_add(GTK_CONTAINER(frame), client);
    gtk_container_add(GTK_CONTAINER(state.toplevel), frame);

    GtkWidget* first_tabstop = nullptr;
    for (int i = 0; i < dialog->control_count; ++i) {
        const DialogControlTemplate& control = dialog->controls[i];
        GtkWidget* widget = CreateControl(control, &state, provider);
        PixelRect rect = DialogUnitsToPixels(control.x, control.y, control.width, control.height, base);
        gtk_widget_set_size_request(widget, rect.width, rect.height);
        gtk_fixed_put(GTK_FIXED(client), widget, rect.x, rect.y);
        if (!first_tabstop && (control.style & DIALOG_WS_TABSTOP)) first_tabstop = widget;
    }
    g_object_unref(provider);

    g_signal_connect(state.toplevel, "delete-event", G_CALLBACK(OnDelete), &state);
    g_signal_connect(state.toplevel, "key-press-event", G_CALLBACK(OnKeyPress), &state);
    g_signal_connect(state.toplevel, "destroy", G_CALLBACK(OnDestroy), &state);

    // A non-zero answer asks for the default focus on the first tab stop.
    INT_PTR default_focus = SendDialogMessage(window, WM_INITDIALOG, 0, window->init);
    if (!window->ended) {
        gtk_widget_show_all(state.toplevel);
        gtk_window_set_focus(toplevel, default_focus ? first_tabstop : nullptr);
    }
    while (!window->ended) gtk_main_iteration_do(TRUE);

    if (state.toplevel) {
        g_signal_handlers_disconnect_by_data(state.toplevel, &state);
        gtk_widget_destroy(state.toplevel);
    }
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return true;
}

}  // namespace vinto
