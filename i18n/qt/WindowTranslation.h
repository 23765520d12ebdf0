#pragma once

class QObject;

namespace qrv::i18n {

// Window translation over Qt's meta-object system.
//
// TranslateComponent walks the window breadth first through everything reachable from it:
// its QObject children (a child that carries a "GNUgettextMarker" child of its own, i.e. a
// window translated on its own, is skipped with everything below it), the actions of every
// widget (QWidget::actions(), so menu actions are reached wherever they are parented) and
// objects held in QObject* properties. On every object reached, each writable QString property
// with a non-empty text is looked up with TranslateText, each QStringList property line by
// line, QComboBox entries line by line and QTabWidget tab texts and tool tips; the English
// texts are remembered on a child QObject named "GNUgettextMarker" together with the language.
//
// Contract for windows: everything that must follow the language has to be reachable that way.
// Parent menus, the tray icon menu and actions to the window. Texts that are not properties
// (for example the titles of a model-based grid) are exposed as child QObjects with a writable
// QString property named "title", which the window reads back when it paints or when the
// property changes (a dynamic property or a Q_PROPERTY both work).
//
// Always excluded: QObject "objectName", QWidget "styleSheet", QComboBox "currentText",
// QTextEdit "html"/"markdown", Qt's own internal children (object names starting "qt_"),
// and QAction "iconText"/"toolTip" while they are only derived from the action's text.
// Further exclusions are registered with the two TP_Global functions below before the window is
// translated; class names are QMetaObject::className() (namespace-qualified, e.g.
// "qrv::gui::TFieldTitle") and an exclusion also covers every class derived from it.
//
// All four functions are for the user-interface thread only.

// Translates `window` into the current language (CurrentLanguage()) and remembers the English
// texts. A window translated before only gets the current language noted. Throws qrv::Error
// "Property cannot be translated." (followed by the class and property) when a text cannot be
// set.
void TranslateComponent(QObject* window);

// Sets every remembered text of `window` to the translation of its English text in the current
// language; does nothing when the window was last translated into the current language. Texts
// changed by the program after TranslateComponent are replaced as well. Throws qrv::Error
// "Retranslate was called on an object that has not been translated before. Please use
// TranslateComponent() before RetranslateComponent()." for a window never translated.
void RetranslateComponent(QObject* window);

// Never translate `property` on objects of `className` or of a class derived from it.
void TP_GlobalIgnoreClassProperty(const char* className, const char* property);

// Skip objects of `className` (or derived) whole; their children are still walked.
void TP_GlobalIgnoreClass(const char* className);

} // namespace qrv::i18n
