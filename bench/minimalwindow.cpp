// The baselines of the start-up benchmark, built with the same compiler and
// flags as Kestrova: the least a Qt 6 widget program does to show a window
// (`minimalwindow`), and the same window showing one line of text
// (`minimalwindow text`), which adds what every program that shows text pays
// once: loading the font configuration and the first font.
#include <QApplication>
#include <QLabel>

#include <cstring>
#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool withText = argc > 1 && std::strcmp(argv[1], "text") == 0;
    std::unique_ptr<QWidget> window;
    if (withText)
        window = std::make_unique<QLabel>("Minimal window");
    else
        window = std::make_unique<QWidget>();
    window->setWindowTitle("Minimal window");
    window->show();
    return app.exec();
}
