/*
 * wine-segments.c - preloaded into 32-bit Wine where QEMU's user-mode
 * emulator runs it (machines whose kernel does not execute 32-bit code;
 * see scripts/setup.sh), so that a thread's segment registers keep
 * pointing at that thread's own data.
 *
 * 32-bit Linux code finds its thread data through segment registers whose
 * descriptors are per thread: glibc's TLS behind %gs and Wine's TEB
 * behind %fs, both in the kernel's per-thread TLS slots of the GDT
 * (set_thread_area). QEMU 7.2 keeps one GDT for all the threads of a
 * process, so a slot holds the base of the thread that set it last, and
 * any thread that loads its selector again gets that base. QEMU loads
 * %gs and %fs again on every signal return, and Wine loads %fs again when
 * it restores a context (after every exception). Seen as "segv_handler
 * Got unexpected trap -1" once OutputDebugStringA runs while a second
 * thread lives, and as "stack smashing detected" once the last thread
 * created has ended and its TLS block is gone.
 *
 * LDT entries have no such problem as long as each thread has its own:
 * - %fs: the constructor takes every free TLS slot and clears %fs, which
 *   the preloader had set; Wine then finds neither and gives each thread
 *   an LDT entry of its own (its fallback for kernels without the slots);
 * - %gs: each thread copies its TLS descriptor to an LDT entry of its own,
 *   taken from the top of the table, away from Wine's, and loads it;
 * - pthread_create: glibc's clone takes its TLS slot from the caller's
 *   %gs, so the caller points the shared slot at itself and loads it for
 *   the length of the call, one thread at a time.
 * The %gs entries are 4096 (8191 down to 4096). An entry goes back to the
 * pool once the thread that held it has ended, as the kernel tells
 * (tgkill with signal 0 answers ESRCH): a thread runs glibc's exit code on
 * its own %gs up to its last instruction, so nothing earlier is safe. A
 * long-lived process thus creates any number of threads. Should no entry
 * be free, or modify_ldt fail, the thread keeps the shared slot, and the
 * preload says so once on standard error.
 * The 64-bit build of this file is empty: it exists so that a 64-bit
 * process started with the same LD_PRELOAD finds a library of its class.
 */
#if defined(__i386__)

struct user_desc {
    unsigned int entry_number;
    unsigned int base_addr;
    unsigned int limit;
    unsigned int flags;  // bits: 32-bit, contents (2), read-only, limit in pages, absent, usable
};

typedef void* (*StartRoutine)(void*);
extern void* dlsym(void* handle, const char* name);
extern void* malloc(unsigned int size);
extern void free(void* block);
#define RTLD_NEXT ((void*)-1)

enum {
    kWrite = 4,
    kGetPid = 20,
    kModifyLdt = 123,
    kSchedYield = 158,
    kGetTid = 224,
    kSetThreadArea = 243,
    kTgkill = 270,
    kNoSuchProcess = 3,       // ESRCH
    kLdtWrite = 1,
    kTlsSlots = 3,
    kFlat32 = 0x51,           // 32-bit, limit in pages, usable
    kFirstOwnEntry = 8191,    // the LDT's last entry; taken downwards
    kOwnEntries = 4096,       // 8191 down to 4096; Wine's own start at the bottom
};

static unsigned short tls_selector;  // glibc's %gs, a GDT TLS slot
static volatile int create_lock;
static int owners[kOwnEntries];      // thread id holding entry kFirstOwnEntry - i; 0: never handed out
static int handed_out;               // entries handed out at least once (may pass kOwnEntries)
static unsigned int reuse_cursor;    // where the search for an ended thread's entry goes on
static int told_full, told_ldt;      // each complaint is made once

static long Syscall3(long number, long a, long b, long c) {
    long result;
    __asm__ volatile("int $0x80" : "=a"(result) : "0"(number), "b"(a), "c"(b), "d"(c) : "memory");
    return result;
}

static unsigned int ThreadBlock(void) {  // glibc's TCB, which points at itself
    unsigned int self;
    __asm__ volatile("movl %%gs:8, %0" : "=r"(self));
    return self;
}

static unsigned short Gs(void) {
    unsigned short selector;
    __asm__ volatile("movw %%gs, %w0" : "=r"(selector));
    return selector;
}

static void LoadGs(unsigned short selector) { __asm__ volatile("movw %w0, %%gs" : : "r"(selector)); }

static void Say(const char* text) {
    int length = 0;
    while (text[length] != 0)
        length++;
    Syscall3(kWrite, 2, (long)text, length);
}

/* Once, the message with the (negated) error of the failed call. */
static void SayOnce(int* told, const char* text, long error) {
    if (__atomic_exchange_n(told, 1, __ATOMIC_SEQ_CST))
        return;
    char number[12];
    int at = sizeof number - 1;
    number[at] = 0;
    unsigned long value = (unsigned long)-error;
    do
        number[--at] = (char)('0' + value % 10);
    while ((value /= 10) != 0 && at > 0);
    Say("orv-wine-segments (scripts/qemu/wine-segments.c): ");
    Say(text);
    if (error != 0) {
        Say(" (error ");
        Say(number + at);
        Say(")");
    }
    Say("; the thread keeps the shared TLS slot and may crash\n");
}

static int ThreadEnded(int thread) {
    return Syscall3(kTgkill, Syscall3(kGetPid, 0, 0, 0), thread, 0) == -kNoSuchProcess;
}

/* The index of an entry for the calling thread, or -1: a fresh one while
 * they last, then one whose thread has ended. */
static int TakeEntry(int self) {
    int fresh = __atomic_fetch_add(&handed_out, 1, __ATOMIC_SEQ_CST);
    if (fresh < kOwnEntries) {
        __atomic_store_n(&owners[fresh], self, __ATOMIC_SEQ_CST);
        return fresh;
    }
    for (int tries = 0; tries < kOwnEntries; tries++) {
        int i = (int)(__atomic_fetch_add(&reuse_cursor, 1, __ATOMIC_SEQ_CST) % kOwnEntries);
        int owner = __atomic_load_n(&owners[i], __ATOMIC_SEQ_CST);
        if (owner != 0 && ThreadEnded(owner) &&
            __atomic_compare_exchange_n(&owners[i], &owner, self, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
            return i;
    }
    return -1;
}

static void MoveGsToOwnEntry(void) {
    int index = TakeEntry((int)Syscall3(kGetTid, 0, 0, 0));
    if (index < 0) {
        SayOnce(&told_full, "no free LDT entry for a new thread's %gs", 0);
        return;
    }
    unsigned int entry = (unsigned int)(kFirstOwnEntry - index);
    struct user_desc desc = {entry, ThreadBlock(), 0xfffff, kFlat32};
    long result = Syscall3(kModifyLdt, kLdtWrite, (long)&desc, sizeof desc);
    if (result < 0) {
        SayOnce(&told_ldt, "modify_ldt failed for a new thread's %gs", result);
        return;
    }
    LoadGs((unsigned short)((entry << 3) | 7));  // LDT, privilege 3
}

struct Start {
    StartRoutine routine;
    void* argument;
};

static void* StartThread(void* block) {
    struct Start start = *(struct Start*)block;
    free(block);
    MoveGsToOwnEntry();
    return start.routine(start.argument);
}

int pthread_create(void* thread, const void* attributes, StartRoutine routine, void* argument) {
    static int (*create)(void*, const void*, StartRoutine, void*);
    if (create == 0)
        create = (int (*)(void*, const void*, StartRoutine, void*))dlsym(RTLD_NEXT, "pthread_create");
    struct Start* start = malloc(sizeof *start);
    if (start == 0 || tls_selector == 0)
        return create(thread, attributes, routine, argument);
    start->routine = routine;
    start->argument = argument;
    while (__atomic_exchange_n(&create_lock, 1, __ATOMIC_ACQUIRE))
        Syscall3(kSchedYield, 0, 0, 0);
    unsigned short own = Gs();
    struct user_desc desc = {(unsigned int)(tls_selector >> 3), ThreadBlock(), 0xfffff, kFlat32};
    Syscall3(kSetThreadArea, (long)&desc, 0, 0);
    LoadGs(tls_selector);
    int result = create(thread, attributes, StartThread, start);
    LoadGs(own);
    __atomic_store_n(&create_lock, 0, __ATOMIC_RELEASE);
    return result;
}

__attribute__((constructor)) static void KeepSegmentsPerThread(void) {
    tls_selector = Gs();
    for (int i = 0; i < kTlsSlots; i++) {
        struct user_desc desc = {(unsigned int)-1, 0, 0xfffff, kFlat32};
        if (Syscall3(kSetThreadArea, (long)&desc, 0, 0) < 0)
            break;
    }
    __asm__ volatile("movw %w0, %%fs" : : "r"(0));
    MoveGsToOwnEntry();
}

#endif
