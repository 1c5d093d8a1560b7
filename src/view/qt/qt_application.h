#pragma once

#include <functional>

class QObject;

namespace parvo {

// Starts the module's one application object, unless it is running; false without a display.
bool startQtApplication();

bool qtApplicationRunning();
// Ends the application object; Qt cannot end it from the exit handlers.
void stopQtApplication();

// True once the X server has gone (or refused Qt): from then on no window is used or destroyed,
// and the application object is abandoned, never ended.
bool displayLost();
// Keeps an object of a lost display alive and reachable; its destructor would talk to the server.
void abandon(QObject* object);
// Services the application's events once, unless the display is lost (false).
bool serviceEvents();
// Services the application's events until done(), or until the display is lost (false). Qt's own
// event loops end the process when they find the connection broken, so a modal window waits here
// instead, looking at the connection before each round.
bool serviceEventsUntil(const std::function<bool()>& done);

}  // namespace parvo
