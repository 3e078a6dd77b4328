#include "screen/ScreenLoader.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QUiLoader>
#include <vector>

#include "screen/BackdropLabel.h"
#include "screen/FloatSlider.h"
#include "screen/ImageButton.h"
#include "screen/ImageView.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"
#include "views/GraphView.h"

namespace fm::screen {

namespace {

class ScreenUiLoader : public QUiLoader {
  public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* w = nullptr;
        if (className == "GraphView") {
            w = remember(new fm::views::GraphView(parent));
        } else if (className == "BarGraph") {
            w = remember(new fm::views::BarGraph(parent));
        } else if (className == "ColorView") {
            w = remember(new fm::views::ColorView(parent));
        } else if (className == "DirectionSensorView") {
            w = remember(new fm::views::DirectionSensorView(parent));
        } else if (className == "ImageView") {
            w = new ImageView(parent);
        } else if (className == "ImageButton") {
            w = new ImageButton(parent);
        } else if (className == "BackdropLabel") {
            w = new BackdropLabel(parent);
        } else if (className == "FloatSlider") {
            w = new FloatSlider(parent);
        } else {
            return QUiLoader::createWidget(className, parent, name);
        }
        w->setObjectName(name);
        return w;
    }

    // The custom views in layout order, for their layout initialiser.
    std::vector<QWidget*> customViews;

  private:
    QWidget* remember(QWidget* w) {
        customViews.push_back(w);
        return w;
    }
};

}  // namespace

QWidget* loadScreenLayout(const QString& name, QWidget* parent, QString* error) {
    QFile file(":/screen/" + name + ".ui");
    if (!file.open(QIODevice::ReadOnly)) {
        if (error != nullptr) {
            *error = file.fileName() + ": " + file.errorString();
        }
        return nullptr;
    }
    // A QUiLoader loads every designer plugin on the library paths as it is made; the one for
    // QQuickWidget alone brings Qt Quick and QML (about 5 MB resident). No screen uses a plugin.
    const QStringList libraryPaths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths({});
    ScreenUiLoader loader;
    QCoreApplication::setLibraryPaths(libraryPaths);
    QWidget* root = loader.load(&file, parent);
    if (root == nullptr) {
        if (error != nullptr) {
            *error = file.fileName() + ": " + loader.errorString();
        }
        return nullptr;
    }
    // A caption that belongs to a view goes inside it, so it is shown and hidden with it.
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QString owner = w->property("belongsTo").toString();
        if (owner.isEmpty()) {
            continue;
        }
        if (auto* view = root->findChild<QWidget*>(owner)) {
            const QRect frame = w->geometry().translated(-view->geometry().topLeft());
            w->setParent(view);
            w->setGeometry(frame);
            w->show();
        }
    }
    for (QWidget* w : loader.customViews) {
        if (auto* g = qobject_cast<fm::views::GraphView*>(w)) {
            g->initWithCoder();
        } else if (auto* b = qobject_cast<fm::views::BarGraph*>(w)) {
            b->initWithCoder();
        } else if (auto* c = qobject_cast<fm::views::ColorView*>(w)) {
            c->initWithCoder();
        } else if (auto* d = qobject_cast<fm::views::DirectionSensorView*>(w)) {
            d->initWithCoder();
        }
    }
    return root;
}

void stretchScreenLayout(QWidget* root, int extra) {
    if (extra <= 0) {
        return;
    }
    constexpr int kPageAreaBottom = 330;  // below: record button, time label, sliders
    root->resize(root->width(), root->height() + extra);
    for (QWidget* w : root->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        QRect g = w->geometry();
        const QString name = w->objectName();
        if (g.height() >= 480) {
            g.setHeight(g.height() + extra);  // the views that fill the screen
        } else if (name == "powerBar" || name == "powerBar2") {
            g.setHeight(g.height() + extra);
        } else if (name == "dsensorView" || name == "rmsPower" || name == "levelCaption") {
            g.translate(0, extra / 2);
        } else if (g.top() >= kPageAreaBottom) {
            g.translate(0, extra);
        }
        w->setGeometry(g);
    }
}

}  // namespace fm::screen
