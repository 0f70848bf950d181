/* The content database: the server's whole content tree as DIDL-Lite
 * objects in memory, stored in conf/data.xml.  The object index and its
 * lock, object and resource numbering, creating, destroying, updating and
 * referencing objects, shares, loading (or rebuilding from
 * data_default.xml), the save thread and the ContentDirectory events.
 *
 * Every call below content_db_unlock runs under the content-database lock,
 * taken by its caller.  Objects handed out are valid until the caller's
 * content_db_unlock and are the database's own: read them, never edit or
 * free them; an object to edit in place comes from content_db_own.
 * Calls that return a UPnP error code return 0 for success.
 *
 * The child list of a container (tarvo:children) and the list of items
 * that refer to an object (tarvo:referenced) are kept beside the objects,
 * not in their attributes: use content_db_children and
 * content_db_referencing.  The database file holds them as the usual
 * comma-separated attributes. */
#ifndef VENNARD_CONTENT_DB_H
#define VENNARD_CONTENT_DB_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>
#include <tarvo_util/utf8file.h> /* path_dot_suffix */
#include <vennard/didl.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

/* Object ids as numbers: a decimal id without leading zeros is its value;
 * any other id is CONTENT_ID_TEXT plus its place in the database's table
 * of such ids. */
#define CONTENT_ID_TEXT (UINT64_C(1) << 63)
/* A list of codes in one heap block, its length and room before them: a
 * library holds one entry per object and most of their lists are empty,
 * so an empty list is only a null pointer (read it through
 * content_id_list_len and content_id_list_codes). */
typedef struct content_id_block {
  uint32_t len;
  uint32_t a;
  uint64_t codes[];
} content_id_block;
typedef struct {
  content_id_block *p; /* NULL when empty */
} content_id_list;

static inline uint32_t content_id_list_len(const content_id_list *l) { return l->p ? l->p->len : 0; }
static inline uint64_t *content_id_list_codes(const content_id_list *l) { return l->p ? l->p->codes : NULL; }

/* One object of the index with what the database keeps beside it.
 * A reference item that holds nothing but its ids (id, parentID, refID,
 * restricted="1" and perhaps tarvo:private="1") is kept compact
 * (CONTENT_ENTRY_COMPACT): no lists, the codes of its parent and target
 * in their place, and an object made only while the lock is held by
 * someone who reads it (NULL otherwise).  Any other item with a plain
 * number for its id is kept encoded between readers
 * (CONTENT_ENTRY_ENCODED): its encoding in the place of the children it
 * cannot have, its object likewise made only for a reader. */
typedef struct content_entry {
  didl_object *object;
  uint64_t number;              /* the id's value (entries after the root) */
  union {
    content_id_list children;   /* tarvo:children */
    uint64_t ref_parent;        /* compact: the parentID's code */
    char *encoding;             /* encoded: the item's encoding */
  };
  union {
    content_id_list referenced; /* tarvo:referenced */
    uint64_t ref_target;        /* compact: the refID's code */
  };
  uint32_t flags;               /* CONTENT_ENTRY_* */
} content_entry;

#define CONTENT_ENTRY_HAS_CHILDREN 1u   /* the object has the attribute tarvo:children */
#define CONTENT_ENTRY_HAS_REFERENCED 2u /* ... tarvo:referenced */
#define CONTENT_ENTRY_CHANGED 4u        /* in the changed-container list */
#define CONTENT_ENTRY_REFLECT 8u        /* in the list the share scanner drains */
#define CONTENT_ENTRY_PENDING 16u       /* its lists lose removed ids when the destroy ends */
#define CONTENT_ENTRY_REMOVED 32u       /* destroyed; leaves the index when the destroy ends */
#define CONTENT_ENTRY_COMPACT 64u       /* a compact reference item */
#define CONTENT_ENTRY_PRIVATE 128u      /* compact: it has tarvo:private="1" */
#define CONTENT_ENTRY_ENCODED 256u      /* an item kept encoded */

struct content_db_orders;

/* The content database's members of the server record. */
typedef struct content_db_rec {
  sys_mutex_handle mutex;
  int32_t stopping;            /* accessed atomically */
  sys_mutex_handle share_mutex;
  sys_mutex_handle save_mutex; /* one writer of the database file at a time */
  sys_thread_handle save_thread;
  int32_t save_thread_running;
  sys_semaphore_handle save_wake; /* raised by a change and by the stop */
  int32_t save_failing;        /* under save_mutex: the last save failed (logged once for the spell) */
  int32_t last_save_failed;    /* the stop's last save failed; set by the save thread before it ends */
  /* The index: content_entry pointers; the special objects, the root at
   * position root, then ascending numeric ids. */
  sys_ptralloc_rec index;
  uint32_t root;
  uint64_t max_object_id;      /* the root's tarvo:maxObjectID */
  uint32_t system_update_id;   /* the root's tarvo:containerUpdateID */
  uint32_t saved_update_id;    /* at the last successful save */
  uint32_t evented_update_id;  /* at the last event */
  sys_ptralloc_rec changed;    /* heap ids of containers changed since the last event */
  sys_ptralloc_rec reflect;    /* the same ids, for the share scanner */
  sys_ptralloc_rec plugins;    /* plugin_record pointers, in load order */
  sys_ptralloc_rec special;    /* heap ids of the special objects */
  int32_t special_numbers;     /* one of them is a plain number */
  sys_ptralloc_rec id_texts;   /* heap ids that are not plain numbers */
  sys_ptralloc_rec pending;    /* entries marked CONTENT_ENTRY_PENDING */
  struct content_db_orders *orders; /* kept orders of children (content_db_order.cpp), or NULL */
  sys_ptralloc_rec made;       /* compact and encoded entries whose object is made, and entries given a
                                  new object, seen to when the lock goes */
  sys_ptralloc_rec retired;    /* encodings no longer in use, which made objects may still read */
  void *made_room;             /* the blocks their objects are made in */
  void *made_spare;            /* blocks emptied, kept for the next holders */
  uint32_t made_busy;          /* holders left to keep several spare blocks for */
} content_db_rec;

/* Room for a number as decimal text with its NUL. */
#define CONTENT_DB_NUMBER_SIZE 24

/* --- the lock --- */

/* Takes the content-database mutex unless the server is stopping; 0 then
 * (callers answer 501). */
int content_db_lock(struct server_rec *s);
void content_db_unlock(struct server_rec *s);
/* The share-list mutex, taken the same way. */
int content_db_share_lock(struct server_rec *s);
void content_db_share_unlock(struct server_rec *s);

/* --- lookup --- */

/* Index position of the object with that id, or the count when there is
 * none: "0" is the root, a special id is searched among the entries before
 * it, any other id must be decimal digits ("00012" finds 12). */
uint32_t content_db_find(struct server_rec *s, const char *id);
uint32_t content_db_count(struct server_rec *s);
didl_object *content_db_at(struct server_rec *s, uint32_t position);
didl_object *content_db_get(struct server_rec *s, const char *id);
/* The object named by its parentID, or NULL. */
didl_object *content_db_parent(struct server_rec *s, const didl_object *object);
didl_object *content_db_root(struct server_rec *s);
/* 1 when id is one of the special objects (configuration key
 * special_object). */
int content_db_is_special(struct server_rec *s, const char *id);
uint32_t content_db_system_update_id(struct server_rec *s);

/* Appends the existing children of a container, in order of insertion, to
 * objects (didl_object pointers); ids of objects that no longer exist are
 * passed over. */
int content_db_children(struct server_rec *s, const didl_object *container, sys_ptralloc_rec *objects);
/* Appends the existing items that refer to object (tarvo:referenced). */
int content_db_referencing(struct server_rec *s, const didl_object *object, sys_ptralloc_rec *objects);
/* The comma-separated text of tarvo:children (CONTENT_ENTRY_HAS_CHILDREN)
 * or tarvo:referenced (CONTENT_ENTRY_HAS_REFERENCED) of an object into
 * out (replaced, NUL-terminated); 0 when the object has no such list. */
int content_db_list_text(struct server_rec *s, const didl_object *object, uint32_t which,
                         sys_stralloc_rec *out);

/* --- readers of many objects --- */

/* What has been made for the holder of the lock so far.  The objects made
 * since a mark go at content_db_made_rewind, as if they had never been
 * asked for, so that a reader of the whole library holds the objects of
 * one look at a time.  Nothing made since the mark may be read after the
 * rewind. */
typedef struct content_db_made_mark {
  void *block;
  size_t used;
  uint32_t made;
} content_db_made_mark;
void content_db_made_mark_take(struct server_rec *s, content_db_made_mark *mark);
void content_db_made_rewind(struct server_rec *s, const content_db_made_mark *mark);
/* 1 when p lies in what has been made for the holder of the lock (it goes
 * at the next rewind past it, or at the unlock). */
int content_db_made_holds(struct server_rec *s, const void *p);
/* Parents found lately, by their codes: zero-filled before the first use,
 * good for one hold of the lock.  Room for about as many as a library of
 * 100,000 files has folders and albums. */
#define CONTENT_DB_PARENT_MEMO 8192
typedef struct content_db_parent_memo {
  uint64_t code[CONTENT_DB_PARENT_MEMO];
  uint32_t position[CONTENT_DB_PARENT_MEMO]; /* plus one; 0: empty */
} content_db_parent_memo;
/* The index position of the container that holds the object at a
 * position: the object itself when it is a container (*container set),
 * else its parent; the count when its parentID names no object.  The
 * object of a compact reference is not made for it. */
uint32_t content_db_holder_position(struct server_rec *s, uint32_t position, content_db_parent_memo *memo,
                                    int *container);
/* Appends the index positions of the existing children of a container,
 * in order of insertion, without making their objects. */
int content_db_child_positions(struct server_rec *s, const didl_object *container, sys_uint32alloc_rec *positions);

/* --- kept orders of children --- */

/* Browse keeps the order in which a requester sees a container's children
 * under a key of its own (the sort criteria, the kind of requester) until
 * the container changes: every content_db_bump, create and destroy that
 * counts it up forgets its orders.  Code that changes what requesters see
 * of objects without counting their containers up calls
 * content_db_order_forget. */

/* The objects at positions [first, first + count) of the kept order
 * (count 0: to the end), appended to objects, and the order's length in
 * *total; 0 when no order is kept under the key or it has lost an
 * object (it is then forgotten). */
int content_db_order_page(struct server_rec *s, const didl_object *container, const char *key, uint64_t first,
                          uint64_t count, sys_ptralloc_rec *objects, uint64_t *total);
/* Keeps objects, in order, under the key; 1/0 (0: nothing kept).  The
 * least recently used orders make room. */
int content_db_order_keep(struct server_rec *s, const didl_object *container, const char *key,
                          didl_object *const *objects, uint32_t count);
/* Forgets the orders of a container, or every order (container NULL). */
void content_db_order_forget(struct server_rec *s, const didl_object *container);

/* --- numbering and editing --- */

/* The next object or resource number (tarvo:maxObjectID plus one, written
 * back first) as decimal text into buffer (CONTENT_DB_NUMBER_SIZE). */
int content_db_new_number(struct server_rec *s, char *buffer);
/* CreateObject: elements is the DIDL-Lite text of one new object.  local:
 * the requester is local.  *new_id (heap, may be NULL) and *object (the
 * stored object, may be NULL) on success. */
uint32_t content_db_create(struct server_rec *s, const char *container_id, const char *elements, int local,
                           char **new_id, didl_object **object);
/* A container with a title and a class, created like CreateObject by a
 * local requester. */
uint32_t content_db_create_container(struct server_rec *s, const char *parent_id, const char *title,
                                     const char *upnp_class, char **new_id, didl_object **object);
/* DestroyObject, with everything below the object and every reference to
 * a destroyed item. */
uint32_t content_db_destroy(struct server_rec *s, const char *id);
/* UpdateObject: current and new_values are the CurrentTagValue and
 * NewTagValue texts. */
uint32_t content_db_update(struct server_rec *s, const char *id, const char *current, const char *new_values,
                           int local);
/* CreateReference: a new item in the container that refers to the
 * object. */
uint32_t content_db_reference(struct server_rec *s, const char *container_id, const char *object_id,
                              char **new_id);
/* The object to edit in place for o: a reference item held compactly
 * becomes an object of its own for good (o itself stays readable, as it
 * was, until the lock goes).  NULL on exhaustion or for an object the
 * database does not hold. */
didl_object *content_db_own(struct server_rec *s, didl_object *o);
/* Counts update ids up: the object when it is a container, with
 * references_too the parents of the items that refer to it, with
 * parent_too its parent, with root_too the root.  Bumped containers enter
 * the changed lists. */
int content_db_bump(struct server_rec *s, didl_object *object, int parent_too, int references_too,
                    int root_too);

/* --- shares (they take the share-list lock themselves) --- */

/* X_Share: 800 (not an existing folder), 801 (inside a share), 805 (63
 * shares), 501. */
uint32_t content_db_share(struct server_rec *s, const char *path);
/* X_Unshare: destroys the share's containers and removes the path from
 * the list; 1, or 0 on any failure, a path that is not shared included.
 * Takes the content-database lock for each container. */
int content_db_unshare(struct server_rec *s, const char *path);

/* --- events --- */

/* ContainerUpdateIDs: id,value pairs of the changed containers that still
 * exist, into out (replaced, NUL-terminated). */
int content_db_container_update_ids(struct server_rec *s, sys_stralloc_rec *out);
/* The property set of the ContentDirectory event: SystemUpdateID and
 * ContainerUpdateIDs (replaced, NUL-terminated). */
int content_db_event_body(struct server_rec *s, sys_stralloc_rec *out);
/* Hands out and empties the list of changed containers kept for the
 * share scanner (heap ids, NULL-terminated). */
int content_db_reflect_take(struct server_rec *s, sys_str_list *ids);

/* --- life cycle (on the worker thread) --- */

/* Creates the locks, loads the plug-ins and the special ids, removes
 * left-over temporary files, loads the database, starts the media HTTP
 * server (server_name is its SERVER name) and the save thread.  1/0; a
 * failure undoes every step. */
int content_db_start(struct server_rec *s, const char *data_home, const char *server_name);
/* content_db_start in two steps, so that the device can be announced
 * while the database loads: open creates the locks, loads the plug-ins and
 * the special ids and removes left-over temporary files, and returns with
 * the database lock held (a failure undoes it); finish loads the database,
 * starts the media HTTP server, lets the lock go and starts the save
 * thread.
 * After a failed finish the lock is refused and content_db_stop frees
 * everything. */
int content_db_open(struct server_rec *s, const char *data_home);
int content_db_open_finish(struct server_rec *s, const char *data_home, const char *server_name);
/* Instead of finish: refuses the lock from now on and lets it go. */
void content_db_open_abandon(struct server_rec *s);
/* Tells the save thread that the database changed (under the lock). */
void content_db_save_wake(struct server_rec *s);
/* 1 while a change is not saved or not evented yet: the save thread has
 * work left.  Takes the lock. */
int content_db_work_pending(struct server_rec *s);
/* Refuses the lock from now on, stops the media HTTP server, saves a last
 * time and frees everything.  0 when that last save failed (the changes
 * since the last good save are lost), else 1. */
int content_db_stop(struct server_rec *s);
/* Loads data.xml into the index; when it cannot be read, does not parse or
 * has no proper root, it is renamed data.xml.bad and the database is
 * rebuilt from data_default.xml.  1/0. */
int content_db_load(struct server_rec *s);
/* Writes the database to data.xml through .tmp.data.xml; the lock is held
 * only while the text is made.  1/0 (data.xml unchanged on failure). */
int content_db_save(struct server_rec *s);

/* --- texts of new objects --- */

/* Replaces text with the document header (with the tarvo namespace) and
 * "<" element " id=\"\" restricted=\"0\" parentID=\"" parent_id "\">\r\n". */
int container_text_begin(sys_stralloc_rec *text, const char *element, const char *parent_id);
/* Appends "</" element ">\r\n" and the document's end tag. */
int xml_end_tag_append(sys_stralloc_rec *text, const char *element);

#ifdef __cplusplus
}
#endif
#endif
