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
    kModifyLdt = 123,
    kSchedYield = 158,
    kSetThreadArea = 243,
    kLdtWrite = 1,
    kTlsSlots = 3,
    kFlat32 = 0x51,           // 32-bit, limit in pages, usable
    kFirstOwnEntry = 8191,    // the LDT's last entry; taken downwards
    kLastOwnEntry = 4096,     // below this, threads keep the shared slot
};

static int next_entry = kFirstOwnEntry;
static unsigned short tls_selector;  // glibc's %gs, a GDT TLS slot
static volatile int create_lock;

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

static void MoveGsToOwnEntry(void) {
    int entry = __atomic_fetch_sub(&next_entry, 1, __ATOMIC_SEQ_CST);
    if (entry < kLastOwnEntry)
        return;
    struct user_desc desc = {(unsigned int)entry, ThreadBlock(), 0xfffff, kFlat32};
    if (Syscall3(kModifyLdt, kLdtWrite, (long)&desc, sizeof desc) < 0)
        return;
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
