// What the page controllers share: texts, template fill with texts and
// data, the four answer shapes and the echo elements.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tollamy_request.h"

// One controller action; false for exit status 1.
using tollamy_handler = bool (*)(tollamy_request *r);
struct tollamy_action_row {
  const char *action;
  tollamy_handler handler;
};

// Every value of the repeated parameter, in request order.
std::vector<std::string> tollamy_args(const tollamy_request *r, const char *name);
// The parameter's value when it is there and not empty, else NULL.
const char *tollamy_arg_set(const tollamy_request *r, const char *name);

// The text of a key, "" when the text file has none.
std::string tollamy_page_text(const tollamy_request *r, const char *key);
// A data value for a page: HTML-escaped; a value no XML document may hold
// is left empty so that it cannot spoil the answer.
std::string tollamy_page_data(const std::string &v);

// Placeholders of a template fill, [[key]] -> value; has false keeps the
// placeholder as it is (a text the file lacks).
struct tollamy_fill_item {
  std::string key;
  bool has;
  std::string value;
};
using tollamy_fills = std::vector<tollamy_fill_item>;
// [[KEY]] = the text of KEY for each key.
void tollamy_fill_texts(const tollamy_request *r, tollamy_fills *f, std::initializer_list<const char *> keys);
// [[key]] = the text of text_key.
void tollamy_fill_text(const tollamy_request *r, tollamy_fills *f, const char *key, const char *text_key);
// [[key]] = value, as given (fixed markup or an already escaped value).
void tollamy_fill_value(tollamy_fills *f, const char *key, const std::string &value);
// The template of HTML_RESOURCE_DIR filled; XML-escaped when escape is set.
bool tollamy_page_fill(const tollamy_request *r, const char *tmpl, const tollamy_fills &f, bool escape,
                       std::string *out);

// Message list entries: id, then its value text.
using tollamy_messages = std::vector<std::pair<std::string, std::string>>;
// {id, text of key} for each pair of ids and text keys.
void tollamy_messages_texts(const tollamy_request *r, tollamy_messages *m,
                            std::initializer_list<std::pair<const char *, const char *>> pairs);
// {id, the loading part filled with the LIST_LOADING text}; false when the
// part cannot be read.
bool tollamy_messages_loading(const tollamy_request *r, tollamy_messages *m, const char *id, const char *tmpl);
std::string tollamy_message_list(const tollamy_messages &m);

// An element holding the XML-escaped value.
void tollamy_echo(std::string *out, const char *name, const std::string &value);

// Result answer: html holding the text (XML-escaped), then the echoes.
bool tollamy_answer_result(tollamy_request *r, bool ok, const std::string &text, const std::string &echoes = "");
// The same with COMMON_FAILED as the failure text.
bool tollamy_answer_done(tollamy_request *r, bool ok, const std::string &echoes = "");
// Page answer: the filled (escaped) page in html, then the message list;
// html COMMON_FAILED on failure.  No message list without messages.
bool tollamy_answer_page(tollamy_request *r, bool ok, const std::string &page, const tollamy_messages *m,
                         const std::string &echoes = "");
// List answer: element (html_list or html) holding the list_item elements;
// html COMMON_FAILED on failure; the echoes after it.
bool tollamy_answer_list(tollamy_request *r, bool ok, const char *element, const std::string &items,
                         const std::string &echoes = "");
// Chunked page answer: the page cut into list_item elements of at most
// TOLLAMY_CHUNK_MAX bytes each, at character boundaries, then the messages.
bool tollamy_answer_chunked(tollamy_request *r, bool ok, const std::string &page, const tollamy_messages &m);

// The controllers and generic pages.  Each table ends with {NULL, NULL}.
extern const tollamy_action_row tollamy_generic_pages[];
extern const tollamy_action_row tollamy_actions_menu[], tollamy_actions_message[], tollamy_actions_name[],
    tollamy_actions_password[], tollamy_actions_view[], tollamy_actions_database[], tollamy_actions_mimetype[],
    tollamy_actions_backup[], tollamy_actions_security[], tollamy_actions_share[], tollamy_actions_setting[];
// Pages that controllers also answer.
bool tollamy_page_password_page(tollamy_request *r);
bool tollamy_page_security_page(tollamy_request *r);
