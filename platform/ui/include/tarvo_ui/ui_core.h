/* The message-window core of the desktop programs, on the GLib main loop:
 * windows with 64-bit handles (process id high, index low) and replaceable
 * procedures, posted and sent messages, timers, registered message ids,
 * lookup by class and title, modal loops.  No toolkit: filters and modules
 * link it too. */
#ifndef TARVO_UI_CORE_H
#define TARVO_UI_CORE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *HWND; /* the same spelling as the COM layer's */
typedef uint32_t UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef LRESULT (*WNDPROC)(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);

#define WM_NULL 0x0000u
#define WM_DESTROY 0x0002u
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_NCDESTROY 0x0082u
#define WM_COMMAND 0x0111u
#define WM_TIMER 0x0113u
#define WM_USER 0x0400u
#define WM_APP 0x8000u
/* Ids handed out by RegisterWindowMessage. */
#define UI_REGISTERED_MESSAGE_FIRST 0xC000u
#define UI_REGISTERED_MESSAGE_LAST 0xFFFFu

/* The message being handled on this thread. */
typedef struct {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
} UI_MSG;

/* A window owned by the calling thread, whose GLib context (the thread's
 * default one) delivers its messages.  NULL on failure. */
HWND CreateMessageWindow(const char *class_name, const char *title, WNDPROC proc, void *user);
int IsWindow(HWND window);
/* The window's procedure, and its replacement (returning the old one, or
 * NULL when the window does not exist), for subclass chains. */
WNDPROC GetWindowProc(HWND window);
WNDPROC SetWindowProc(HWND window, WNDPROC proc);
LRESULT CallWindowProc(WNDPROC proc, HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
void *GetWindowUserData(HWND window);
void SetWindowUserData(HWND window, void *user);
const char *GetWindowTitle(HWND window); /* valid until the title changes */
int SetWindowTitle(HWND window, const char *title);
const char *GetWindowClass(HWND window); /* valid while the window lives */
/* The live windows of the process, oldest first: up to max into out; the
 * number there are. */
uint32_t EnumWindowHandles(HWND *out, uint32_t max);

/* Queues a message for the window's thread from any thread: 1 when queued.
 * A window of another process is reached when that process published it. */
int PostMessage(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
/* Calls the procedure at once; only on the window's own thread (0 elsewhere). */
LRESULT SendMessage(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
/* Ends the innermost running MessageLoop of this thread with code. */
void PostQuitMessage(int code);
/* Runs this thread's GLib context until PostQuitMessage; returns its code. */
int MessageLoop(void);

/* WM_TIMER (wparam = id) every ms of program time (tarvo_platform's clock),
 * also while a modal loop runs.  Setting an existing (window, id) restarts
 * it.  Returns id (1 when id is 0), 0 on failure. */
uintptr_t SetTimer(HWND window, uintptr_t id, UINT ms);
int KillTimer(HWND window, uintptr_t id);

/* The same id for the same name (case-insensitive) within the process. */
UINT RegisterWindowMessage(const char *name);
/* The first live window whose class and title match (NULL: any); with a
 * class and no title, a window published by another process when none of
 * this process matches. */
HWND FindWindow(const char *class_name, const char *title);
/* WM_DESTROY, then the timers stop, then WM_NCDESTROY last; on the
 * window's own thread only. */
int DestroyWindow(HWND window);

/* Runs this thread's context until EndDialog(window) and returns its
 * result; ends early (-1) when the window is destroyed. */
intptr_t ModalLoop(HWND window);
int EndDialog(HWND window, intptr_t result);

/* Ends every loop of the process for good: MessageLoop returns code, each
 * ModalLoop -1 (as if its window had gone), and the waits of the other
 * layers that check UiQuitting give up; loops started later end at once.
 * From any thread. */
void UiQuitAll(int code);
/* 1 once UiQuitAll has been called. */
int UiQuitting(void);
/* SIGTERM and SIGINT call UiQuitAll(0) on the default context, also while
 * a modal loop or a wait runs there (GLib's signal-safe wake-up).  1 when set. */
int UiQuitOnStopSignals(void);

/* The message being dispatched on this thread, or NULL outside a handler. */
const UI_MSG *GetCurrentMessage(void);

/* Publishes the window's class (letters, digits and "_-.#", at most 64)
 * under $TARVO_RUNTIME_DIR (default $XDG_RUNTIME_DIR/tarvo, made 0700), so
 * that FindWindow by class in other processes of the user finds it and
 * their PostMessage reaches it as a datagram on this process's socket,
 * read on the calling thread's context.  Destroying the window, or the
 * process's end, withdraws it.  1 when published. */
int PublishWindowClass(HWND window);

#ifdef __cplusplus
}
#endif
#endif
