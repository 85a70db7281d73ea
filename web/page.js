// The page's own script: reads the chosen file a block at a time and hands
// the blocks to a worker, which converts the script's rows once; an edit of
// the page's name, author or address has the worker make only the head and
// the foot again. The worker is made from the text of the worker-script
// element, since a page opened from a file may load no script file; the file
// is read here, since a worker of a page opened from a file cannot read it
// in every browser.
(() => {
  const TEXTS = {
    ja: {
      title: 'taletab — 脚本をHTMLページに',
      heading: '脚本をHTMLページに変換',
      intro: '脚本のファイル（各行が名前、タブ、せりふ）を選ぶと、そのままHTMLページになります。変換はこのブラウザーの中だけで行われ、ファイルはどこにも送られません。',
      choose: '脚本ファイルを<strong>選ぶ</strong>か、ここにドロップしてください',
      pageName: 'ページの名前（タイトルにもなります）',
      author: '作者名（任意・空欄なら仮の文字のまま）',
      address: 'メールアドレス（任意・空欄なら仮の文字のまま）',
      save: 'ページを保存',
      busy: '変換中…',
      working: '変換中',
      cancel: 'やめる',
      preview: 'プレビュー',
      language: 'English',
      summary: (r) => `${r.encoding} として読み、${r.rowCount.toLocaleString('ja')} 行にしました。`,
      unreadable: (n) => `読めない文字が ${n.toLocaleString('ja')} 個ありました（� で示します）。`,
      doubtful: (encoding) => `文字コードは ${encoding} と判断して読みましたが、違うかもしれません。`,
      partial: (shown, whole) => `プレビューはページの先頭 ${shown} だけです。保存されるページは全部（${whole}）です。`,
      empty: 'このファイルは空で、脚本の行がありません。ページは作りませんでした。',
      binary: 'このファイルは脚本（テキストファイル）ではないようです。ページは作りませんでした。',
      document: 'このファイルはワープロの文書（Word の .docx や .doc など）のようです。ページは作りませんでした。テキストファイル（タブ区切り）として保存し直してから選んでください（下の「使い方」をご覧ください）。',
      rtf: 'このファイルは RTF（書式付きの文書）のようです。書式の記号もそのままページに入りました。テキストファイルとして保存し直すことをおすすめします（下の「使い方」）。',
      html: 'このファイルは HTML ページのようです（保存したページをもう一度選びましたか？）。そのまま変換しました。',
      noTab: 'タブのある行がひとつもないため、すべての行が見出しになりました。名前とせりふの間はタブで区切ってください（下の「使い方」）。',
      changed: 'このファイルを読めませんでした。選んだ後で変更されたようです。もう一度選んでください。',
      unreadableFile: 'このファイルを読めませんでした（消されたか、読む権限がないのかもしれません）。',
      memory: 'メモリーが足りず、変換できませんでした。ほかのタブやアプリを閉じて、もう一度選んでください。',
      unkept: 'ページが大きすぎて、このブラウザーには保管できませんでした（プライベートウィンドウでは特に小さな上限があります）。ふつうのウィンドウで試すか、コマンドラインの taletab を使ってください。',
      unsaved: 'ページを保存できませんでした（ディスクがいっぱいか、保存先が消されたのかもしれません）。保存先のファイルは元のままです。もう一度保存してください。',
      saved: (name) => `「${name}」に保存しました。`,
      failed: 'このファイルは変換できませんでした。',
      cancelled: '変換をやめました。',
      example: '例の脚本で試す',
      remember: '作者名とメールアドレスをこのブラウザーに覚えておく（外すと忘れます）',
      licence: 'ライセンス（MIT）',
      helpTitle: '使い方',
      help: `<p>脚本は1行が1つのせりふです。<b>名前</b>、<b>タブ</b>、<b>せりふ</b>の順に書きます。タブのない行（場の名前やト書き）は見出しになります。ページは1つの表で、左に名前（太字）、右にせりふが並びます。</p>
<p>作者名とメールアドレスを入れなければ、ページには「ここに名前を入れてください」「ここにメールアドレスを入れてください」という仮の文字が入ります。あとから書き換えることもできます。</p>
<p>タブで区切ったテキストファイルとして保存するには：</p>
<ul><li><b>Word</b>：「ファイル」→「名前を付けて保存」で、ファイルの種類を「書式なし (*.txt)」にし、エンコードは「日本語 (シフト JIS)」を選びます。</li>
<li><b>一太郎</b>：「ファイル」→「他形式の保存/開く」→「テキスト形式で保存」を選びます。</li>
<li><b>メモ帳</b>：名前とせりふの間で Tab キーを押し、「名前を付けて保存」で文字コード「ANSI」か「UTF-8」を選びます。</li></ul>`,
    },
    en: {
      title: 'taletab — a script into an HTML page',
      heading: 'Turn a script into an HTML page',
      intro: 'Choose a script file (each line a name, a TAB and the words) and it becomes an HTML page. It is converted inside this browser only: your file is sent nowhere.',
      choose: '<strong>Choose</strong> a script file, or drop it here',
      pageName: 'Page name (also its title)',
      author: 'Author’s name (optional: a placeholder stays if empty)',
      address: 'E-mail address (optional: a placeholder stays if empty)',
      save: 'Save the page',
      busy: 'Converting…',
      working: 'Converting',
      cancel: 'Cancel',
      preview: 'Preview',
      language: '日本語',
      summary: (r) => `Read as ${r.encoding}: ${r.rowCount.toLocaleString('en')} rows.`,
      unreadable: (n) => `${n.toLocaleString('en')} characters could not be read (shown as �).`,
      doubtful: (encoding) => `The script was taken to be ${encoding}, which may be wrong.`,
      partial: (shown, whole) => `The preview shows the first ${shown} of the page only. The saved page is whole (${whole}).`,
      empty: 'This file is empty: it has no lines of a script. No page was made.',
      binary: 'This file does not look like a script (a text file). No page was made.',
      document: 'This file looks like a word processor’s document (Word’s .docx or .doc, say). No page was made. Save it as plain text with TABs first (see “How to use” below).',
      rtf: 'This file looks like RTF (a document with formatting): its formatting codes went into the page as they are. Save it as plain text instead (see “How to use” below).',
      html: 'This file looks like an HTML page (a saved page chosen again?). It was converted all the same.',
      noTab: 'No line has a TAB, so every line became a heading. Put a TAB between the name and the words (see “How to use” below).',
      changed: 'This file could not be read: it seems to have changed since it was chosen. Choose it again.',
      unreadableFile: 'This file could not be read (it may have been deleted, or you may not be allowed to read it).',
      memory: 'There was not enough memory to convert this file. Close other tabs or programs and choose it again.',
      unkept: 'The page is larger than this browser could keep (a private window keeps less). Try an ordinary window, or the taletab program.',
      unsaved: 'The page could not be saved (the disk may be full, or the file saved to was removed). The file is as it was. Save the page again.',
      saved: (name) => `Saved as “${name}”.`,
      failed: 'This file could not be converted.',
      cancelled: 'The conversion was cancelled.',
      example: 'Try the example script',
      remember: 'Remember the author’s name and address in this browser (untick to forget them)',
      licence: 'Licence (MIT)',
      helpTitle: 'How to use',
      help: `<p>A script has one spoken line a line: the <b>name</b>, a <b>TAB</b> and the <b>words</b>. A line without a TAB (a scene’s name, a stage direction) is a heading. The page is one table: the names on the left in bold, the words on the right.</p>
<p>Without an author’s name and e-mail address the page holds placeholders for them, to fill in later.</p>
<p>To save a script as plain text with TABs:</p>
<ul><li><b>Word</b>: File → Save As, type “Plain Text (*.txt)”, encoding “Japanese (Shift-JIS)”.</li>
<li><b>Ichitaro</b>: File → Save/open in other formats → Save as text.</li>
<li><b>Notepad</b>: press Tab between the name and the words; Save As with the encoding “ANSI” or “UTF-8”.</li></ul>`,
    },
  };
  // Shown for a moment only, a progress bar would flicker.
  const PROGRESS_AFTER_MS = 300;
  // The file is read and handed to the worker this much at a time: the worker
  // converts a block while the next is read, from the first few megabytes on.
  const READ_BYTES = 4 * 1024 * 1024;
  // How much of the page's rows the preview shows.
  const PREVIEW_BYTES = 1024 * 1024;
  const PAGE_TYPE = 'text/html;charset=Shift_JIS';

  const $ = (id) => document.getElementById(id);
  const fileInput = $('file'), drop = $('drop'), pageName = $('page-name'), author = $('author'), address = $('address');
  const working = $('working'), progress = $('progress'), percent = $('percent'), message = $('message');
  const result = $('result'), save = $('save'), savedNote = $('saved'), summary = $('summary'), previewNote = $('preview-note'), preview = $('preview');
  const workerUrl = URL.createObjectURL(new Blob([$('worker-script').textContent], {type: 'text/javascript'}));

  const preferred = (navigator.languages && navigator.languages[0]) || navigator.language || 'ja';
  let language = /^ja\b/i.test(preferred) ? 'ja' : 'en';
  // The script's job: its worker and, once converted, its rows; the page to save; what went wrong.
  // ready: the page to save, as its head, its rows (parts: Blobs or buffers) and its foot, and its name; saved: the name it was saved under.
  let file = null, job = null, ready = null, problem = null, saved = null, urls = [], showProgress = 0, remakes = 0;
  // A worker started before it is needed has its module ready when a file comes.
  let spare = new Worker(workerUrl);
  // The author's name and address, kept in this browser's storage while `remember` is ticked.
  const REMEMBERED = 'taletab.credits';
  const storage = (() => {
    try {
      return window.localStorage;
    } catch {
      return null;  // storage turned off: nothing is remembered
    }
  })();

  function megabytes(bytes) {
    return `${(bytes / (1024 * 1024)).toLocaleString(language, {maximumFractionDigits: 1})} MB`;
  }

  function defaultPageName() {
    if (!file) return '';
    const dot = file.name.lastIndexOf('.');
    return `${dot > 0 ? file.name.slice(0, dot) : file.name}.htm`;
  }

  function details() {
    return {title: pageName.value || defaultPageName(), author: author.value, address: address.value};
  }

  // Whether anything is being converted: the save control waits for it.
  const busy = () => Boolean(job && (!job.converted || job.remaking));

  function render() {
    const texts = TEXTS[language];
    document.documentElement.lang = language;
    document.title = texts.title;
    for (const element of document.querySelectorAll('[data-text]')) element.innerHTML = texts[element.dataset.text];
    $('language').textContent = texts.language;
    $('language').lang = language === 'ja' ? 'en' : 'ja';
    preview.setAttribute('aria-label', texts.preview);
    pageName.placeholder = defaultPageName();
    $('file-name').textContent = file ? file.name : '';
    message.textContent = problem ? texts[problem] : '';
    savedNote.textContent = saved !== null ? texts.saved(saved) : '';
    save.disabled = busy() || !ready;
    save.textContent = busy() ? texts.busy : texts.save;
    const converted = job && job.converted;
    result.hidden = preview.hidden = !converted;
    if (!converted) $('warnings').replaceChildren();
    previewNote.hidden = !(converted && converted.rowBytes > PREVIEW_BYTES);
    if (converted) {
      summary.textContent = texts.summary(converted) + (converted.unreadable ? ` ${texts.unreadable(converted.unreadable)}` : '') +
        (converted.doubtful ? ` ${texts.doubtful(converted.encoding)}` : '');
      const warnings = [converted.like !== 'document' && converted.like, converted.noTab && 'noTab'].filter(Boolean);
      $('warnings').replaceChildren(...warnings.map((warning) => {
        const item = document.createElement('li');
        item.textContent = texts[warning];
        item.dataset.warning = warning;
        return item;
      }));
      previewNote.textContent = texts.partial(megabytes(PREVIEW_BYTES), megabytes(ready ? ready.size : converted.rowBytes));
    }
  }

  function setState(state) {
    document.body.dataset.state = state;
    render();
  }

  // Asks the job's worker; resolves to its answer.
  function ask(mine, kind, value, transfer = []) {
    const id = ++mine.asked;
    return new Promise((resolve) => {
      mine.answers.set(id, resolve);
      mine.worker.postMessage({kind, value, id}, transfer);
    });
  }

  function newJob() {
    const worker = spare || new Worker(workerUrl);
    spare = new Worker(workerUrl);
    const mine = {worker, asked: 0, answers: new Map(), converted: null, remaking: false, started: performance.now()};
    worker.onmessage = ({data}) => {
      const resolve = mine.answers.get(data.id);
      mine.answers.delete(data.id);
      if (resolve) resolve(data);
    };
    worker.onerror = (event) => {
      event.preventDefault();
      for (const resolve of mine.answers.values()) resolve({failed: 'failed'});
      mine.answers.clear();
    };
    return mine;
  }

  // Drops the current job, its worker and its page.
  function forget() {
    clearTimeout(showProgress);
    working.hidden = true;
    if (job) job.worker.terminate();
    job = null;
    ready = null;
    saved = null;
    for (const url of urls) URL.revokeObjectURL(url);
    urls = [];
    preview.replaceChildren();
  }

  // Ends the current job's conversion with `outcome`: 'done', or what went wrong.
  function ended(mine, outcome) {
    if (job !== mine) return;
    clearTimeout(showProgress);
    working.hidden = true;
    // For the tests and the benchmark: how many conversions have ended, and how long the last took.
    document.body.dataset.conversions = Number(document.body.dataset.conversions || 0) + 1;
    document.body.dataset.convertMs = Math.round(performance.now() - mine.started);
    if (outcome !== 'done') {
      forget();
      problem = outcome;
    }
    setState(outcome === 'done' ? 'done' : 'refused');
  }

  function readingProblem(error) {
    return error && error.name === 'NotReadableError' ? 'changed' : 'unreadableFile';
  }

  async function convert() {
    forget();
    problem = null;
    if (!file) return setState('idle');
    const mine = job = newJob();
    const chosen = file;
    setState('converting');
    showProgress = setTimeout(() => { working.hidden = false; }, PROGRESS_AFTER_MS);
    const showRead = (read) => {
      const share = chosen.size ? read / chosen.size : 1;
      progress.value = share;
      percent.textContent = `${Math.floor(share * 100)}%`;
    };
    showRead(0);
    const read = (at) => {
      const reading = chosen.slice(at, at + READ_BYTES).arrayBuffer();
      reading.catch(() => {});  // seen where it is awaited
      return reading;
    };
    // Where the page is to be written to a file part by part, its parts are kept as they are made, not copied into Blobs.
    const buffers = Boolean(window.showSaveFilePicker);
    let at = 0;
    let next = read(0);
    for (;;) {
      let block;
      try {
        block = await next;
      } catch (error) {
        return ended(mine, readingProblem(error));
      }
      if (job !== mine) return;
      at += block.byteLength;
      const last = block.byteLength === 0 || at >= chosen.size;
      const answer = ask(mine, 'block', {block, buffers}, [block]);
      if (!last) next = read(at);  // read on while the worker converts
      const {refused, failed, done} = await answer;
      if (job !== mine) return;
      if (refused || failed) return ended(mine, refused || failed);
      showRead(at);
      if (done || last) break;
    }
    const {converted, failed} = await ask(mine, 'end');
    if (job !== mine) return;
    if (failed) return ended(mine, failed);
    // A browser short of room for Blobs may have let some go: the page is whole only if each one's last byte can be read.
    try {
      await Promise.all(converted.rows.filter((part) => part instanceof Blob).map((part) => part.slice(part.size - 1).arrayBuffer()));
    } catch {
      return ended(mine, 'unkept');
    }
    if (job !== mine) return;
    mine.converted = converted;
    await remake();
    ended(mine, 'done');
    // After the page is ready: building the preview of a megabyte of rows takes a moment.
    showPreview(mine);
  }

  // The page again for the fields as they are now: a new head and foot about the converted rows.
  async function remake() {
    const mine = job;
    if (!mine || !mine.converted) return;
    const asked = ++remakes;
    const wanted = details();
    mine.remaking = true;
    render();
    const {frame, failed} = await ask(mine, 'frame', wanted);
    if (job !== mine || asked !== remakes) return;  // a later edit or script has taken over
    mine.remaking = false;
    if (failed) return ended(mine, failed);
    for (const url of urls) URL.revokeObjectURL(url);
    urls = [];
    const {rows, rowBytes} = mine.converted;
    ready = {head: frame.head, rows, foot: frame.foot, name: wanted.title, size: frame.head.length + rowBytes + frame.foot.length};
    saved = null;
    document.body.dataset.pages = Number(document.body.dataset.pages || 0) + 1;
    render();
  }

  // Markup a script's rows may hold that the preview shows (bold, line
  // breaks and the like), each without its attributes; other elements give
  // only their text, and these nothing. So the preview loads nothing and runs nothing.
  const SHOWN = new Set(['B', 'STRONG', 'I', 'EM', 'U', 'S', 'SMALL', 'BIG', 'SUB', 'SUP', 'BR', 'RUBY', 'RT', 'RP',
                         'SPAN', 'FONT', 'P', 'DIV', 'CENTER']);
  const HIDDEN = new Set(['SCRIPT', 'STYLE', 'TEMPLATE', 'TITLE', 'IFRAME', 'NOEMBED', 'NOFRAMES', 'TEXTAREA', 'SELECT']);

  function inert(nodes) {
    const out = [];
    for (const node of nodes) {
      if (node.nodeType === Node.TEXT_NODE) out.push(document.createTextNode(node.data));
      if (node.nodeType !== Node.ELEMENT_NODE || HIDDEN.has(node.nodeName)) continue;
      if (SHOWN.has(node.nodeName)) {
        const element = document.createElement(node.nodeName.toLowerCase());
        element.append(...inert(node.childNodes));
        out.push(element);
      } else {
        out.push(...inert(node.childNodes));
      }
    }
    return out;
  }

  // The table of the page's first rows, read as a browser reads the saved
  // page (Shift-JIS), parsed where nothing loads or runs, rebuilt of inert markup.
  async function showPreview(mine) {
    const {rows, rowBytes} = mine.converted;
    let bytes = new Uint8Array(Math.min(rowBytes, PREVIEW_BYTES));
    for (let at = 0, i = 0; at < bytes.length; i++) {
      const part = rows[i] instanceof Blob ? new Uint8Array(await rows[i].slice(0, bytes.length - at).arrayBuffer()) : rows[i];
      const piece = part.subarray(0, bytes.length - at);
      bytes.set(piece, at);
      at += piece.length;
    }
    // An LF is never part of a Shift-JIS character, so no character is cut.
    if (rowBytes > PREVIEW_BYTES) bytes = bytes.subarray(0, bytes.lastIndexOf(0x0a) + 1);
    const parsed = new DOMParser().parseFromString(`<table>${new TextDecoder('shift_jis').decode(bytes)}</table>`, 'text/html');
    const table = document.createElement('table');
    const source = parsed.querySelector('table');
    for (const row of source ? source.rows : []) {
      const tr = table.insertRow();
      for (const cell of row.cells) tr.insertCell().append(...inert(cell.childNodes));
    }
    if (job !== mine) return;
    preview.replaceChildren(table);
    // For the tests: how many previews have been shown.
    document.body.dataset.previews = Number(document.body.dataset.previews || 0) + 1;
  }

  function choose(chosen) {
    if (!chosen) return;
    file = chosen;
    pageName.value = defaultPageName();
    convert();
  }

  function remember() {
    if (!storage) return;
    try {
      if ($('remember').checked) storage.setItem(REMEMBERED, JSON.stringify({author: author.value, address: address.value}));
      else storage.removeItem(REMEMBERED);
    } catch { /* storage full or refused: nothing is remembered */ }
  }

  try {
    const kept = storage && JSON.parse(storage.getItem(REMEMBERED));
    if (kept) [author.value, address.value] = [kept.author || '', kept.address || ''];
  } catch { /* nothing usable kept */ }
  $('remember').addEventListener('change', remember);

  $('example').addEventListener('click', () => {
    const hex = $('example-script').textContent.trim();
    const bytes = new Uint8Array(hex.length / 2);
    for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
    choose(new File([bytes], 'scene.txt'));
  });
  // Enter opens the file chooser, as the space bar does (some browsers do neither by themselves).
  fileInput.addEventListener('keydown', (event) => {
    if (event.key !== 'Enter') return;
    event.preventDefault();
    fileInput.click();
  });

  // Where the browser offers a save-file picker, the page goes to the chosen
  // file a part at a time, never gathered into one Blob; elsewhere it is downloaded.
  save.addEventListener('click', () => {
    if (!ready || busy()) return;
    const page = ready;
    problem = saved = null;
    render();
    if (!window.showSaveFilePicker) return download(page);
    // Asked for at once: the picker needs the click it answers.
    window.showSaveFilePicker({suggestedName: page.name, types: [{description: 'HTML', accept: {'text/html': ['.htm', '.html']}}]})
      .then((handle) => write(page, handle), (error) => {
        // Cancelled: nothing to say. Refused (a page in a frame, say): downloaded instead.
        if (error.name !== 'AbortError') download(page);
      });
  });

  // Writes `page` to the picked file: the file is replaced only once the whole page is written.
  async function write(page, handle) {
    let writable = null;
    try {
      writable = await handle.createWritable();
      for (const part of [page.head, ...page.rows, page.foot]) await writable.write(part);
      await writable.close();
    } catch {
      // The disk full, the file or its folder removed meanwhile, permission withdrawn: the old file stays.
      if (writable) writable.abort().catch(() => {});
      if (ready === page) problem = 'unsaved';
      return render();
    }
    if (ready === page) saved = handle.name;
    render();
  }

  function download(page) {
    let blob;
    try {
      blob = new Blob([page.head, ...page.rows, page.foot], {type: PAGE_TYPE});
    } catch {
      // The browser would not make the page's Blob: nothing can be saved.
      return job && ended(job, 'unkept');
    }
    // A link made for the moment, never in the page: nothing to open in a tab of its own.
    const url = URL.createObjectURL(blob);
    urls.push(url);
    const link = document.createElement('a');
    link.href = url;
    link.download = page.name;
    link.click();
  }
  $('cancel').addEventListener('click', () => {
    forget();
    problem = 'cancelled';
    setState('idle');
  });
  fileInput.addEventListener('change', () => {
    choose(fileInput.files[0]);
    // Emptied, so that choosing the same file again, edited since, converts it again.
    fileInput.value = '';
  });
  for (const field of [pageName, author, address]) {
    // Not while a word is being composed (Japanese input): once it is, on compositionend.
    const edited = () => {
      remember();
      remake();
    };
    field.addEventListener('input', (event) => { if (!event.isComposing) edited(); });
    field.addEventListener('compositionend', edited);
  }
  // A file dropped anywhere is taken, never opened in place of the page;
  // text dropped into a field is the field's.
  const files = (event) => event.dataTransfer && Array.from(event.dataTransfer.types).includes('Files');
  document.addEventListener('dragover', (event) => {
    if (!files(event)) return;
    event.preventDefault();
    drop.classList.add('over');
  });
  document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) drop.classList.remove('over');
  });
  document.addEventListener('drop', (event) => {
    if (!files(event)) return;
    event.preventDefault();
    drop.classList.remove('over');
    choose(event.dataTransfer.files[0]);
  });
  $('language').addEventListener('click', () => {
    language = language === 'ja' ? 'en' : 'ja';
    render();
  });
  render();
})();
